#include "palomid/records.h"

namespace palomid {

tGlobalSettings GlobalSettings;

}  // namespace palomid
