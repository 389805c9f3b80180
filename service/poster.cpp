#include "service/vantrel_srv.h"

namespace vantrel {

// Until the HTTP exchange exists no notice can be delivered, so none is
// reported as delivered.
bool TVantrelSrv::postaa(TDocVariantData) { return false; }

}  // namespace vantrel
