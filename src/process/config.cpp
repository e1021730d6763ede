#include "process/config.h"

namespace talven {

SessionConfig gConfig;

const ModelEntry& ChosenModel() {
  return kModels[gConfig.model];
}

}  // namespace talven
