#include "SendTool.h"

#include <filesystem>
#include <iostream>

#include "SendOptions.h"
#include "TerminalView.h"
#include "app/SettingsFile.h"
#include "platform/Environment.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "proxy/HTTPRIO.h"
#include "upload/SendCommand.h"

namespace vorlen {

namespace {

const char* const kUrlCaption = "Въведете URL на уеб сървиса";
const char* const kOrgCaption = "Въведете име на организация";

// The value from the command line, else from sendcfg.ini, else asked on the terminal.
std::string Setting(const std::optional<std::string>& given, const std::string& fromFile,
                    const char* caption, const char* prompt, const char* missing,
                    IOperatorView& view, bool terminal) {
  std::string value = given ? *given : fromFile;
  while (IsBlankSetting(value)) {
    if (!terminal) throw ESendUsage(missing);
    if (!view.InputQuery(caption, prompt, value)) throw ESendUsage(missing);
  }
  return value;
}

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

}  // namespace

int RunSendTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err) {
  return RunSendTool(args, in, out, err, [](const std::string& url) {
    return BindSenderService(false, url, nullptr);
  });
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
  viewOptions.ErrorIsTerminal = StderrIsTerminal();
  TTerminalView view(state, viewOptions, in, err);

  try {
    std::string fileUrl, fileOrg;
    const std::string settingsPath = ExecutableDir() + SettingsFileName;
    if (PathExists(settingsPath)) {
      const std::string text = ReadSettingsFile(settingsPath);
      fileUrl = SettingValue(text, "url");
      fileOrg = SettingValue(text, "org");
    }
    try {
      state.FUrl = Setting(options.Url, fileUrl, kUrlCaption, "url",
                           "няма адрес на уеб сървиса: задайте --url или url в sendcfg.ini",
                           view, viewOptions.InputIsTerminal);
      state.FOrg = Setting(options.Org, fileOrg, kOrgCaption, "Организация",
                           "няма име на организация: задайте --org или org в sendcfg.ini", view,
                           viewOptions.InputIsTerminal);
    } catch (const ESendUsage& e) {
      err << "vorlen-send: " << e.Message() << "\n\n" << SendUsage();
      return 2;
    }

    state.ServiceIntf = binder(state.FUrl);
    TSendCommand command(state, view);
    command.OnPartRead = [&view](int32_t index, int64_t partCount, int64_t length) {
      view.PartRead(index, partCount, length);
    };
    TTerminalView::CatchInterrupt(viewOptions.ErrorIsTerminal);
    command.btSendClick();
    switch (command.Outcome()) {
      case TSendCommand::ocDone:
        return 0;
      case TSendCommand::ocClosing:
        if (!view.Reported()) err << "Изпращането е прекратено.\n";
        return 1;
      default:
        if (!view.Reported()) err << "Файлът не беше изпратен.\n";
        return 1;
    }
  } catch (const EAbort&) {
    DropSessionFiles(state);
    return 1;
  } catch (const std::exception& e) {
    err << e.what() << '\n' << std::flush;
    DropSessionFiles(state);
    return 1;
  }
}

}  // namespace vorlen
