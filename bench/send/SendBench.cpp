// send_bench [MiB]: uploads a file of MiB mebibytes (default 1024) with vorlen-send to a local
// vorlen-service and prints the throughput and the sender's peak resident memory, then POSTs the
// same number of 204,800-byte bodies with a bare libcurl loop to the same service for comparison.
#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kPart = 204800;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

pid_t Spawn(const std::vector<std::string>& argv, int outFd, const std::string& errFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", args[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

uLong FileCrc(const std::string& path, long long& size) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  uLong crc = crc32(0L, Z_NULL, 0);
  size = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(in.gcount()));
    size += in.gcount();
  }
  return crc;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

int main(int argc, char** argv) {
  const long long mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const long long size = mib << 20;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vorlen-send-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "big.bin").string();

  {  // Pseudo-random content, so that nothing compresses or repeats by accident.
    std::ofstream out(file, std::ios::binary);
    std::vector<uint32_t> block((1 << 20) / 4);
    uint32_t x = 12345;
    for (long long done = 0; done < size; done += 1 << 20) {
      for (uint32_t& v : block) v = x = x * 1664525u + 1013904223u;
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(std::min<long long>(1 << 20, size - done)));
    }
  }

  int pipeFds[2];
  if (pipe(pipeFds) != 0) return 1;
  const pid_t service = Spawn({VORLEN_SERVICE_BINARY, "--port", "0", "--root",
                               (dir / "root").string(), "--max-delivered", "64G"},
                              pipeFds[1], (dir / "service.log").string());
  close(pipeFds[1]);
  std::string line;
  char c;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
  const std::string prefix = "listening on ";
  if (line.rfind(prefix, 0) != 0) {
    std::fprintf(stderr, "service did not start: %s\n", line.c_str());
    return 1;
  }
  const std::string url = line.substr(prefix.size());

  // vorlen-send, the whole workflow: session, parts, details, merge, clean-up.
  const auto sendStart = Clock::now();
  const pid_t sender = Spawn({VORLEN_SEND_BINARY, "--url", url, "--org", "Bench", file}, -1,
                             (dir / "send.log").string());
  int status = 0;
  rusage usage{};
  wait4(sender, &status, 0, &usage);
  const double sendSeconds = Seconds(sendStart);
  const bool sendOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;

  // Bare libcurl: the same number of POSTs of one part's size over one kept-alive connection.
  const long long parts = size / kPart + 1;
  std::string body(kPart, 'x');
  CURL* curl = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  const auto curlStart = Clock::now();
  long long curlFailures = 0;
  for (long long i = 0; i < parts; ++i)
    if (curl_easy_perform(curl) != CURLE_OK) ++curlFailures;
  const double curlSeconds = Seconds(curlStart);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);

  kill(service, SIGTERM);
  waitpid(service, nullptr, 0);

  // The delivered copy must be the file itself.
  std::string delivered;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "root"))
    if (entry.path().filename() == "big.bin" &&
        entry.path().parent_path().filename() == "delivered")
      delivered = entry.path().string();
  long long sourceSize = 0, deliveredSize = -1;
  const uLong sourceCrc = FileCrc(file, sourceSize);
  const uLong deliveredCrc = delivered.empty() ? 0 : FileCrc(delivered, deliveredSize);
  const bool same = !delivered.empty() && sourceSize == deliveredSize && sourceCrc == deliveredCrc;

  const double mb = static_cast<double>(size) / 1e6;
  std::printf("file                 %lld MiB (%lld parts)\n", mib, parts);
  std::printf("vorlen-send          %s, %.1f s, %.1f MB/s, peak RSS %.1f MiB, delivered %s\n",
              sendOk ? "exit 0" : "FAILED", sendSeconds, mb / sendSeconds,
              static_cast<double>(usage.ru_maxrss) / 1024.0, same ? "identical" : "DIFFERENT");
  std::printf("bare libcurl loop    %.1f s, %.1f MB/s (%lld failed)\n", curlSeconds,
              mb / curlSeconds, curlFailures);
  std::printf("ratio                %.0f %% of bare libcurl\n", 100.0 * curlSeconds / sendSeconds);

  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return sendOk && same ? 0 : 1;
}
