#include "SendOptions.h"

#include <cerrno>
#include <cstdlib>

#include "runtime/Format.h"
#include "transport/ServerCertificate.h"

namespace vorlen {

std::string SendUsage() {
  return "Употреба: vorlen-send [--url URL] [--org ИМЕ] [--pack] [--retry N] [--parallel N]\n"
         "                   [--trust-cert SHA256] ФАЙЛ\n"
         "  --url URL    адрес на уеб сървиса (иначе url от sendcfg.ini)\n"
         "  --org ИМЕ    име на организацията (иначе org от sendcfg.ini)\n"
         "  --pack       архивира файла преди изпращане (освен ако вече е архив)\n"
         "  --retry N    отговаря с \"да\" на N въпроса за повторно изпращане, после с \"не\"\n"
         "               (преди всеки нов опит изчаква 1 с, после двойно повече, до 60 с)\n"
         "  --parallel N изпраща до N части едновременно, всяка по своя връзка (от 1 до 16,\n"
         "               по подразбиране 1). Сървисът трябва да пази частите по име, в какъвто\n"
         "               и ред да пристигнат (както еталонният vorlen-service), затова това не\n"
         "               е по подразбиране\n"
         "  --trust-cert SHA256  приема сертификата на https сървиса с този SHA-256 отпечатък\n"
         "               (32 шестнадесетични двойки, с или без двоеточия, както ги показва\n"
         "               openssl x509 -fingerprint -sha256), макар да не може да бъде проверен\n"
         "https се проверява: веригата на сертификата спрямо доверените в системата и името на\n"
         "сървъра. Сертификат, който не може да бъде проверен, се приема само ако отпечатъкът му е\n"
         "даден с --trust-cert или е запомнен в sendcfg.ini (cert=ХОСТ:ПОРТ ОТПЕЧАТЪК) за адреса\n"
         "на URL; иначе нищо не се изпраща и програмата завършва с код 1, като съобщава причините\n"
         "и отпечатъка.\n"
         "Ctrl-C, докато се изпращат частите, спира изпращането след текущата част (с --parallel:\n"
         "след частите, които вече се изпращат) и сървисът изтрива получените части; второ Ctrl-C\n"
         "прекратява програмата веднага.\n";
}

namespace {

// A whole decimal number from low to high; nullopt for anything else.
std::optional<int> WholeNumber(const std::string& text, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || n < low || n > high) return std::nullopt;
  return static_cast<int>(n);
}

}  // namespace

TSendOptions ParseSendOptions(const std::vector<std::string>& args) {
  TSendOptions options;
  bool filesOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!filesOnly && arg == "/?") {  // the Windows way of asking for help, on Linux too
      options.Help = true;
      continue;
    }
    if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!options.File.empty())
        throw ESendUsage(Format("излишен аргумент \"%s\": изпраща се един файл", arg.c_str()));
      options.File = arg;
      continue;
    }
    if (arg == "--") {
      filesOnly = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const size_t equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    auto needValue = [&]() -> std::string {
      if (value) return *value;
      if (i + 1 >= args.size()) throw ESendUsage(Format("%s иска стойност", name.c_str()));
      return args[++i];
    };
    if (name == "--help" || name == "-h") {
      options.Help = true;
    } else if (name == "--pack" && !value) {
      options.Pack = true;
    } else if (name == "--url") {
      options.Url = needValue();
    } else if (name == "--org") {
      options.Org = needValue();
    } else if (name == "--retry") {
      const std::string text = needValue();
      options.Retry = WholeNumber(text, 0, 1000000);
      if (!options.Retry)
        throw ESendUsage(Format("--retry иска цяло число от 0 нагоре, а не \"%s\"", text.c_str()));
    } else if (name == "--parallel") {
      const std::string text = needValue();
      const std::optional<int> n = WholeNumber(text, 1, kMaxParallel);
      if (!n)
        throw ESendUsage(Format("--parallel иска цяло число от 1 до %d, а не \"%s\"", kMaxParallel,
                                text.c_str()));
      options.Parallel = *n;
    } else if (name == "--trust-cert") {
      const std::string text = needValue();
      options.TrustCert = NormalFingerprint(text);
      if (options.TrustCert.empty())
        throw ESendUsage(Format(
            "--trust-cert иска SHA-256 отпечатък от 32 шестнадесетични двойки, а не \"%s\"",
            text.c_str()));
    } else {
      throw ESendUsage(Format("непозната опция \"%s\"", arg.c_str()));
    }
  }
  if (!options.Help && options.File.empty()) throw ESendUsage("не е посочен файл за изпращане");
  return options;
}

}  // namespace vorlen
