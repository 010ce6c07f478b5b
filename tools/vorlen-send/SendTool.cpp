#include "SendTool.h"

#include <iostream>
#include <memory>

#include "SendOptions.h"
#include "TerminalView.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/SettingsDir.h"
#include "platform/TempFileGuard.h"
#include "platform/TempFiles.h"
#include "proxy/SenderHooks.h"
#include "transport/Endpoint.h"
#include "transport/ServerCertificate.h"
#include "send/CertificateTrust.h"
#include "send/OperatorTexts.h"
#include "send/SendCommand.h"
#include "send/SettingsFile.h"
#include "send/SettingsSources.h"
#include "send/ShownText.h"

namespace vorlen {

namespace {

// A send that failed after the session was opened leaves its parts with the service. The window
// drops them when the operator closes it; the program is about to end, so it does that itself.
void DropSessionFiles(TSenderState& state) {
  if (state.FState == spIdle || !state.ServiceIntf || state.Session.empty()) return;
  try {
    state.ServiceIntf->DelTempFiles(state.Session);
  } catch (const std::exception&) {
    // The failure already reported usually explains this one too.
  }
}

std::string TrustedCertificateFor(const TSendOptions& options, const TSenderSettings& settings,
                                  const std::string& url) {
  if (!options.TrustCert.empty()) return options.TrustCert;
  const TEndpoint endpoint = SplitEndpointURL(url);
  return RememberedCertificate(settings.More, endpoint.Host, endpoint.Port);
}

}  // namespace

ISenderServicePtr BindSendToolService(const std::string& url,
                                      const std::string& trustedCertificate) {
  std::shared_ptr<THTTPRIO> rio = NewSenderRIO();
  rio->HTTPWebNode().TrustedCertificate = trustedCertificate;
  return BindSenderService(false, url, rio);
}

int RunSendTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err) {
  return RunSendTool(args, in, out, err, &BindSendToolService);
}

int RunSendTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err, const TSendBinder& binder) {
  TSendOptions options;
  try {
    options = ParseSendOptions(args);
  } catch (const ESendUsage& e) {
    err << "vorlen-send: " << e.Message() << "\n\n" << SendUsage();
    return 2;
  }
  if (options.Help) {
    out << SendUsage();
    return 0;
  }

  TSenderState state;
  TTerminalViewOptions viewOptions;
  viewOptions.File = options.File;
  viewOptions.Pack = options.Pack;
  viewOptions.Retry = options.Retry;
  viewOptions.InputIsTerminal = StdinIsTerminal();
  const TLineRedraw redraw = StderrLineRedraw();
  viewOptions.ErrorIsTerminal = redraw != TLineRedraw::lrNone;
  viewOptions.ErrorTakesEscapes = redraw == TLineRedraw::lrEscapes;
  TTerminalView view(state, viewOptions, in, err);

  try {
    // The value from the command line, else from sendcfg.ini (on a per-machine installation:
    // the program's, the user's, then the machine's settings), else asked on the terminal.
    const std::unique_ptr<IRegistryStore> machine = LocalMachineRegistry();
    const TSenderSettings settings =
        ReadSenderSettings(SettingsSources(SettingsPlaces(ExecutableDir()), *machine), view,
                           false, options.Url, options.Org);
    if (IsBlankSetting(settings.Url) || IsBlankSetting(settings.Org)) {
      err << "vorlen-send: " << (IsBlankSetting(settings.Url) ? NoUrlGiven : NoOrgGiven) << "\n\n"
          << SendUsage();
      return 2;
    }
    state.FUrl = settings.Url;
    state.FOrg = settings.Org;

    // A details file of this run's own: parallel runs must not send each other's, and the
    // program's folder need not be writable.
    TTempFileGuard details;
    details.Reset(FsPathFromUtf8(CreateTempFile(SystemTempDir(), "sendDetails")));

    // --trust-cert, else the fingerprint remembered for the URL's address.
    const std::string trusted = TrustedCertificateFor(options, settings, state.FUrl);
    state.ServiceIntf = binder(state.FUrl, trusted);
    TSendCommand command(state, view);
    command.DetailsPath = Utf8FromFsPath(details.Path());
    command.OnPartRead = [&view](int32_t index, int64_t partCount, int64_t length) {
      view.PartRead(index, partCount, length);
    };
    command.OnPartAccepted = [&view](int32_t, int64_t length) { view.PartAccepted(length); };
    // Each part in flight over a proxy, and so a connection, of its own.
    command.Parallel = options.Parallel;
    command.NewPartService = [&binder, &state, &trusted] { return binder(state.FUrl, trusted); };
    TTerminalView::CatchInterrupt(viewOptions.ErrorIsTerminal, details.Path().string());
    command.btSendClick();
    switch (command.Outcome()) {
      case TSendCommand::ocDone:
        // The file arrived, but the service cannot tell who sent it.
        if (command.Details() == TSendCommand::dsNotSent) err << DetailsFailed << '\n';
        return command.Details() == TSendCommand::dsSent ? 0 : 1;
      case TSendCommand::ocClosing:
        if (!view.Reported()) err << SendStopped << '\n';
        return 1;
      default:
        if (!view.Reported()) err << SendNotDone << '\n';
        return 1;
    }
  } catch (const EAbort&) {
    DropSessionFiles(state);
    return 1;
  } catch (const ECertificateUntrusted& e) {
    // Nothing was sent: what an administrator needs to check the certificate and pass it.
    const TServerCertificate& c = e.Certificate;
    const std::string trusted = options.TrustCert;
    err << "vorlen-send: "
        << CertificateDescription(c, !trusted.empty() && trusted != c.Fingerprint) << '\n'
        << CertificateRefused << '\n'
        << CertificateTrustHint << '\n'
        << std::flush;
    DropSessionFiles(state);
    return 1;
  } catch (const std::exception&) {
    err << ShownErrorText(std::current_exception()) << '\n' << std::flush;
    DropSessionFiles(state);
    return 1;
  }
}

}  // namespace vorlen
