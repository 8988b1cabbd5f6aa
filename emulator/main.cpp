// quillora-emulator: the local stand-in for the remote services, as a
// program. Prints its addresses, optionally writes the "Service" section of
// a set.ini, and serves until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/emulator.h"

namespace {

void Usage() {
  std::printf(
      "usage: quillora-emulator [options]\n"
      "  --api-port N --pages-port N --preview-port N --stats-port N\n"
      "  --update-port N --control-port N   fixed ports (default: chosen by the OS)\n"
      "  --state-dir DIR        keep certificate, uploads and results in DIR\n"
      "  --cert FILE --key FILE [--ca FILE]  use this certificate instead of making one\n"
      "  --write-ini FILE       write the [Service] section into FILE (other sections kept)\n"
      "  --task-ms N            processing time of a task (default 2000)\n"
      "  --threads N            worker threads of the API server (default 64)\n");
}

bool ParsePort(const char* text, int* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!end || *end || v < 0 || v > 65535) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  quillora::emulator::Options options;
  options.taskProcessingTime = std::chrono::milliseconds(2000);
  std::string iniPath;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    auto port = [&](int* out) {
      const char* v = value(a.c_str());
      if (!ParsePort(v, out)) {
        std::fprintf(stderr, "bad port %s\n", v);
        std::exit(2);
      }
    };
    if (a == "--api-port") port(&options.apiPort);
    else if (a == "--pages-port") port(&options.pagesPort);
    else if (a == "--preview-port") port(&options.previewPort);
    else if (a == "--stats-port") port(&options.statsPort);
    else if (a == "--update-port") port(&options.updatePort);
    else if (a == "--control-port") port(&options.controlPort);
    else if (a == "--state-dir") options.stateDir = value("--state-dir");
    else if (a == "--cert") options.certFile = value("--cert");
    else if (a == "--key") options.keyFile = value("--key");
    else if (a == "--ca") options.caFile = value("--ca");
    else if (a == "--write-ini") iniPath = value("--write-ini");
    else if (a == "--task-ms") {
      int ms = 0;
      if (!ParsePort(value("--task-ms"), &ms)) return 2;
      options.taskProcessingTime = std::chrono::milliseconds(ms);
    } else if (a == "--threads") {
      options.threads = std::atoi(value("--threads"));
    } else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      Usage();
      return 2;
    }
  }
  if (options.certFile.empty() != options.keyFile.empty()) {
    std::fprintf(stderr, "--cert and --key go together\n");
    return 2;
  }

  // Block the stop signals before any server thread exists, so that only
  // sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  quillora::emulator::Emulator emulator(options);
  if (!emulator.Start()) {
    std::fprintf(stderr, "quillora-emulator: %s\n", emulator.LastError().c_str());
    return 1;
  }
  if (!iniPath.empty() && !emulator.WriteServiceIni(iniPath)) {
    std::fprintf(stderr, "quillora-emulator: cannot write %s\n", iniPath.c_str());
    emulator.Stop();
    return 1;
  }
  std::printf("quillora-emulator is serving\n");
  std::printf("  api        %s\n", emulator.ApiBase().c_str());
  std::printf("  pages      %s\n", emulator.PageBase().c_str());
  std::printf("  preview    %s\n", emulator.PreviewBase().c_str());
  std::printf("  statistics %s\n", emulator.StatsBase().c_str());
  std::printf("  update     %s\n", emulator.UpdateBase().c_str());
  std::printf("  control    %s/control/status\n", emulator.ControlBase().c_str());
  std::printf("  CA file    %s\n", emulator.CaFile().c_str());
  if (!iniPath.empty()) std::printf("  set.ini    %s\n", iniPath.c_str());
  std::printf("\n%s", emulator.ServiceIniSection().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  std::printf("quillora-emulator: stopping (%s)\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  emulator.Stop();
  return 0;
}
