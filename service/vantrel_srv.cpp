#include "service/vantrel_srv.h"

namespace vantrel {

const char16_t kDefaultChatUrl[] =
    u"https://chat.tresk.fi/hooks/vantrelnotices001/"
    u"Zq7Xk2Lm9Pw4Rt6Yb8Nc3Vd5Hf1Jg0Sa2Qe4Wr6Ty8Ui0Op3";

TVantrelSrv::TVantrelSrv(const PeriodicTimer::PortFactory& make_timer, ModulePorts ports)
    : ServiceModule(kServiceName, u"Vantrel"), ports_(std::move(ports)), Timer1(make_timer) {
  Timer1.SetOnTimer([this] { Timer1Timer(&Timer1); });
}

TVantrelSrv::~TVantrelSrv() = default;

}  // namespace vantrel
