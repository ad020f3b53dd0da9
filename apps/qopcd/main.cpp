// qopcd: serves the classes of this computer's class registry (the built-in
// simulation server, registration files, UA servers through the bridge) to
// clients on other computers. Runs in the foreground until SIGINT or
// SIGTERM; logs one line per connection, creation and release to standard
// error.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "opc/remote/host.h"
#include "simulator/registration.h"
#include "uabridge/uaregistration.h"

namespace {

void usage(std::ostream& out) {
  out << "Usage: qopcd [--listen ADDRESS] [--port PORT] [--tls-cert FILE --tls-key FILE\n"
         "             [--client-ca FILE] [--allow-fingerprint SHA256]...]\n"
         "\n"
         "Serves this computer's OPC servers to OPC clients on other computers\n"
         "(a component's ComputerName \"host\" or \"host:port\").\n"
         "\n"
         "  --listen ADDRESS  the address to listen on (default 127.0.0.1, this\n"
         "                    computer only; 0.0.0.0 or :: for every interface)\n"
         "  --port PORT       the port to listen on (default "
      << opc::remote::kDefaultPort
      << "; 0: any free port)\n"
         "  --tls-cert FILE   TLS: this host's certificate (PEM, chain after it)\n"
         "  --tls-key FILE    TLS: the certificate's private key (PEM)\n"
         "  --client-ca FILE  TLS: admit clients whose certificate this authority\n"
         "                    issued\n"
         "  --allow-fingerprint SHA256\n"
         "                    TLS: admit the client whose certificate has this\n"
         "                    SHA-256 fingerprint (hex, colons allowed; repeatable)\n"
         "  --help            this text\n"
         "\n"
         "Without TLS the host listens on a loopback address only. With TLS a\n"
         "client must show a certificate --client-ca issued or one whose\n"
         "fingerprint is allowed; any other client is refused (and logged) before\n"
         "anything is made for it.\n"
         "\n"
         "Runs in the foreground until interrupted (SIGINT, SIGTERM). Logs one line\n"
         "per connection, object creation and release to standard error.\n";
}

bool parsePort(std::string_view text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + unsigned(c - '0');
  }
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  opc::remote::HostOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      usage(std::cout);
      return 0;
    } else if (arg == "--listen" && hasValue) {
      options.address = argv[++i];
    } else if (arg == "--port" && hasValue) {
      if (!parsePort(argv[++i], options.port)) {
        std::cerr << "qopcd: not a port: " << argv[i] << "\n";
        return 2;
      }
    } else if (arg == "--tls-cert" && hasValue) {
      options.tls.certificateFile = argv[++i];
    } else if (arg == "--tls-key" && hasValue) {
      options.tls.keyFile = argv[++i];
    } else if (arg == "--client-ca" && hasValue) {
      options.tls.clientAuthorityFile = argv[++i];
    } else if (arg == "--allow-fingerprint" && hasValue) {
      options.tls.allowedFingerprints.push_back(argv[++i]);
    } else {
      std::cerr << "qopcd: unknown argument " << arg << "\n";
      usage(std::cerr);
      return 2;
    }
  }

  // Signals are taken by sigwait below; blocked before any thread starts so
  // that every thread inherits the mask.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  veze6::sim::registerSimulationServer();
  veze6::uab::registerUaBridge();

  options.log = [](const std::string& line) {
    std::fprintf(stderr, "qopcd: %s\n", line.c_str());
    std::fflush(stderr);
  };
  int signal = 0;
  {
    opc::remote::Host host(options);
    if (host.listen() != 0) {
      std::cerr << "qopcd: cannot listen on " << options.address << " port " << options.port << ": "
                << host.errorText() << "\n";
      return 1;
    }
    const bool v6 = options.address.find(':') != std::string::npos;
    std::fprintf(stderr, "qopcd: listening on %s%s%s:%u\n", v6 ? "[" : "", options.address.c_str(),
                 v6 ? "]" : "", unsigned(host.port()));
    std::fflush(stderr);
    sigwait(&stop, &signal);
    std::fprintf(stderr, "qopcd: stopping (signal %d)\n", signal);
  }
  return 0;
}
