// The program's version, written down here only. The banner and --version show it as it is; the
// build reads it from this file and gives the packages and the manual page the number it stands for
// (0.07H is 0.7.8: H is the eighth letter).
#pragma once

#define TALVEN_VERSION "0.07H"
