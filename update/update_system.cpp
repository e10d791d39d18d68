#include "update/update_system.h"

namespace tarvisko {

UpdateSystem& update_system() {
    static UpdateSystem calls;
    return calls;
}

}  // namespace tarvisko
