// A client process for the tests: creates the simulation server on the host
// given as its argument, adds a group and advises the shutdown callback,
// says "holding" and waits to be killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/com.h"
#include "simulator/registration.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::u16string computer = opc::utf8ToUtf16(argv[1]);
  opc::Bstr name(computer);
  COSERVERINFO info{0, name.get(), nullptr, 0};
  MULTI_QI request{&IID_IOPCServer, nullptr, S_OK};
  if (FAILED(CoCreateInstanceEx(veze6::sim::CLSID_Veze6Simulation, nullptr, CLSCTX_REMOTE_SERVER,
                                &info, 1, &request))) {
    return 1;
  }
  const auto server = ComPtr<IOPCServer>::attach(static_cast<IOPCServer*>(request.pItf));
  OPCHANDLE group = 0;
  DWORD rate = 0;
  ComPtr<IUnknown> groupObject;
  // Held as long as the process lives, whether or not a proxy came back.
  server->AddGroup(u"held", TRUE, 100, 1, nullptr, nullptr, 0, &group, &rate, IID_IOPCItemMgt,
                   groupObject.put());
  ComPtr<IConnectionPoint> point;
  if (const auto points = server.as<IConnectionPointContainer>()) {
    points->FindConnectionPoint(IID_IOPCShutdown, point.put());
  }
  std::printf("holding\n");
  std::fflush(stdout);
  for (;;) pause();
}
