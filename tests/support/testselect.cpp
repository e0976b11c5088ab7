// The module the unit tests run the shared packer with: the deviroz7e
// module, in a copy that a test may change (its version text, its framing).
#include "pabx/modules.h"

pabxmodule testmodule = deviroz7e_module;
const pabxmodule& pabx = testmodule;
