#include "engine/CVNAuxiliaryOutput.h"

namespace engine {

// The frame-sharing server is not part of this library yet, so an engine
// starts with no such auxiliary output.
std::shared_ptr<CVNAuxiliaryOutput> createVudodoDuvaOutput() { return nullptr; }

}  // namespace engine
