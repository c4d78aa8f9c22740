#include "app/console_assembly.h"

#include <utility>

#include "http/tls_transport.h"

namespace tertulia {

ConsoleAssembly::ConsoleAssembly(ConsoleSetup setup)
    : frmMain(
          ConsoleParts{
              .view = window,
              .dialogs = window,
              .rows = rows,
              .chatWindows = chatWindows,
              .announcer = desktop,
              .attention = desktop,
              .loop = loop,
              .timers = timers,
              .eventWatch = eventWatch,
              .openSettings = std::move(setup.openSettings),
              .saveDialog = saveDialog,
              .http = http,
          },
          std::move(setup.serviceUrl), std::move(setup.programDirectory)) {
    loop.SetReportParent(&window);
    http.SetSecureTransport(MakeTlsTransportFactory());
    desktop.SetHandlers(&frmMain);
}

}  // namespace tertulia
