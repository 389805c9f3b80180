// Program entry: the main loop, the service module with its armed timer, then
// the run that delivers the timer's ticks.
#include "platform/main_loop.h"
#include "service/vantrel_srv.h"

int main() {
  vantrel::MainLoop loop;
  vantrel::TVantrelSrv module([&loop](std::function<void()> on_tick) { return loop.NewTimer(std::move(on_tick)); });
  loop.Run();
  return 0;
}
