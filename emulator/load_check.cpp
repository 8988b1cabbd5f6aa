// emulator_load: 50 clients (or --clients N) start at the same moment and
// each runs a full task life cycle against an in-process emulator over
// loopback: memparm, uploadpar, a two-chunk upload (4 MiB + a tail), task
// state polling, the preview, taskdown and the result download. Prints the
// figures and exits non-zero on any error. With --upload-mib N one client
// uploads N MiB instead and the peak memory before and after is printed.
// Not run as a test.
#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/tests/http_client.h"

namespace {

using namespace quillora::emulator;
using namespace quillora::emulator::testing;
using Clock = std::chrono::steady_clock;

struct Outcome {
  bool ok = false;
  std::string error;
  int requests = 0;
  std::vector<double> latenciesMs;
  double totalMs = 0;
};

class Client {
 public:
  // Builds the file and its expected translation before the clock starts.
  Client(const Emulator& emu, int index) : emu_(emu), index_(index) {
    std::string line = "你好世界 client " + std::to_string(index_) + "\n";
    while (file_.size() < 4194304) file_ += line;
    file_.resize(4194304 + 1000);
    expected_ = Emulator::Translate(file_, "zh", "en");
  }

  Outcome Run() {
    auto start = Clock::now();
    out_.ok = RunTask();
    out_.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return out_;
  }

 private:
  HttpResult Timed(const HttpRequest& r) {
    auto t0 = Clock::now();
    HttpResult res = Perform(r);
    out_.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    ++out_.requests;
    return res;
  }
  Json::Value Api(const std::string& endpoint, const std::vector<std::pair<std::string, std::string>>& m,
                  bool sign = true) {
    HttpRequest r;
    r.method = "POST";
    r.url = emu_.ApiBase() + "/api/v4/" + endpoint;
    r.body = BodyFor(m, sign);
    r.caFile = emu_.CaFile();
    r.headers = {"Content-Type:application/json"};
    HttpResult res = Timed(r);
    if (!res.Ok()) out_.error = endpoint + ": " + curl_easy_strerror(res.curl);
    return ParseAnswer(res.body);
  }
  bool Fail(const std::string& what) {
    if (out_.error.empty()) out_.error = what;
    return false;
  }

  bool RunTask() {
    Json::Value v = Api("memparm", {{"productid", "342"}, {"softname", "Quillora"}, {"softversion", "1.0.0"}});
    if (v["code"].asInt() != 10000) return Fail("memparm");
    std::string info = v["productinfo"].asString();
    v = Api("uploadpar", {{"tasktype", "fanyi"}, {"limitsize", "30720"},
                          // Clients count uploads from 1, as the program does.
                          {"filename", "QuilloraFileSize" + std::to_string(index_ + 1) + ".txt"},
                          {"filecount", "1"}, {"isshare", "0"}, {"timestamp", std::to_string(std::time(nullptr))},
                          {"softname", "Quillora"}, {"softversion", "1.0.0"}, {"machineid", "load"},
                          {"productid", "342"}, {"fanyi_from", "zh"}, {"fanyi_to", "en"},
                          {"outputfileextension", "txt"}, {"parainfo", "tempfile:txt;maxlimit:char0page0;"}});
    if (v["code"].asInt() != 10000) return Fail("uploadpar");
    std::string tag = v["tasktag"].asString(), token = v["tasktoken"].asString(), ts = v["timestamp"].asString();

    const std::string& file = file_;
    for (int chunk = 0; chunk < 2; ++chunk) {
      HttpRequest r;
      r.method = "POST";
      r.url = emu_.ApiBase() + "/api/v4/uploadfile?tasktag=" + tag + "&timestamp=" + ts + "&tasktoken=" + token +
              "&fileindex=0&chunks=2&chunk=" + std::to_string(chunk);
      r.body = chunk == 0 ? file.substr(0, 4194304) : file.substr(4194304);
      r.caFile = emu_.CaFile();
      r.headers = {"Content-Type:application/json"};
      HttpResult res = Timed(r);
      int code = ParseAnswer(res.body)["code"].asInt();
      if (code != (chunk == 0 ? 11000 : 10000)) return Fail("chunk " + std::to_string(chunk) + " code " + std::to_string(code));
    }
    std::vector<std::pair<std::string, std::string>> m = {
        {"deviceid", "load"}, {"timestamp", ts}, {"productinfo", info}, {"tasktag", tag}};
    auto stateMembers = m;
    stateMembers.emplace_back("ifshowtxt", "1");
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (true) {
      v = Api("taskstate", stateMembers);
      int code = v["code"].asInt();
      if (code == 10000) break;
      if (code != kCodeProcessing) return Fail("taskstate code " + std::to_string(code));
      if (Clock::now() > deadline) return Fail("taskstate never done");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the client's poll interval, shortened
    }
    std::string infos = v["fileconvertinfos"].asString();
    if (infos.size() <= 15) return Fail("fileconvertinfos");
    HttpRequest preview;
    preview.url = emu_.PreviewBase() + "/preview/fanyi/" + infos.substr(13, infos.size() - 15);
    HttpResult p = Timed(preview);
    if (p.status != 200 || p.body.rfind("[en] hello world", 0) != 0) return Fail("preview");
    v = Api("taskdown", m);
    if (v["code"].asInt() != 10000) return Fail("taskdown");
    HttpRequest down;
    down.url = v["downurl"].asString();
    HttpResult d = Timed(down);
    if (d.status != 200 || d.body != expected_) return Fail("result file");
    return true;
  }

  const Emulator& emu_;
  int index_;
  std::string file_, expected_;
  Outcome out_;
};

// Peak resident memory of this process (emulator and client together), KiB.
long PeakRssKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  }
  std::fclose(f);
  return kib;
}

// One client uploads `mib` MiB of binary data in 4 MiB chunks; shows that the
// emulator's memory does not grow with the upload.
int BigUpload(Emulator& emu, int mib) {
  auto body = [](const std::vector<std::pair<std::string, std::string>>& m) { return BodyFor(m); };
  auto post = [&](const std::string& url, const std::string& data) {
    HttpRequest r;
    r.method = "POST";
    r.url = url;
    r.body = data;
    r.caFile = emu.CaFile();
    r.headers = {"Content-Type:application/json"};
    r.timeoutMs = 60000;
    return ParseAnswer(Perform(r).body);
  };
  std::string api = emu.ApiBase() + "/api/v4/";
  Json::Value v = post(api + "uploadpar",
                       body({{"tasktype", "fanyi"}, {"limitsize", "30720"}, {"filename", "QuilloraFileSize1.pdf"},
                             {"filecount", "1"}, {"isshare", "0"}, {"timestamp", "1"}, {"softname", "Quillora"},
                             {"softversion", "1.0.0"}, {"machineid", "big"}, {"productid", "342"},
                             {"fanyi_from", "zh"}, {"fanyi_to", "en"}, {"outputfileextension", "pdf"}}));
  std::string tag = v["tasktag"].asString(), token = v["tasktoken"].asString(), ts = v["timestamp"].asString();
  long before = PeakRssKiB();
  int chunks = (mib + 3) / 4;
  std::string chunk(4194304, '\0');
  auto start = Clock::now();
  for (int i = 0; i < chunks; ++i) {
    chunk[0] = static_cast<char>(i);
    std::string piece = i == chunks - 1 && mib % 4 ? chunk.substr(0, static_cast<size_t>(mib % 4) << 20) : chunk;
    int code = post(api + "uploadfile?tasktag=" + tag + "&timestamp=" + ts + "&tasktoken=" + token +
                        "&fileindex=0&chunks=" + std::to_string(chunks) + "&chunk=" + std::to_string(i),
                    piece)["code"].asInt();
    if (code != (i == chunks - 1 ? 10000 : 11000)) {
      std::fprintf(stderr, "chunk %d answered %d\n", i, code);
      return 1;
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  long after = PeakRssKiB();
  std::printf("uploaded %d MiB in %d chunks in %.1f s (%.0f MiB/s)\n", mib, chunks, seconds, mib / seconds);
  std::printf("peak RSS before %ld KiB, after %ld KiB: growth %.2f MiB for %d MiB uploaded\n", before, after,
              (after - before) / 1024.0, mib);
  return 0;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  int clients = 50;
  int processingMs = 500;
  int uploadMib = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--clients") clients = std::max(1, std::atoi(argv[i + 1]));
    else if (a == "--task-ms") processingMs = std::max(0, std::atoi(argv[i + 1]));
    else if (a == "--upload-mib") uploadMib = std::max(1, std::atoi(argv[i + 1]));
  }
  curl_global_init(CURL_GLOBAL_ALL);
  Options o;
  o.taskProcessingTime = std::chrono::milliseconds(processingMs);
  Emulator emu(o);
  if (!emu.Start()) {
    std::fprintf(stderr, "emulator_load: %s\n", emu.LastError().c_str());
    return 1;
  }
  if (uploadMib > 0) {
    int rc = BigUpload(emu, uploadMib);
    emu.Stop();
    curl_global_cleanup();
    return rc;
  }

  std::mutex m;
  std::condition_variable cv;
  bool go = false;
  int ready = 0;
  std::vector<Outcome> outcomes(static_cast<size_t>(clients));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      Client client(emu, i);
      {
        std::unique_lock lock(m);
        ++ready;
        cv.notify_all();
        cv.wait(lock, [&] { return go; });
      }
      outcomes[static_cast<size_t>(i)] = client.Run();
    });
  }
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return ready == clients; });
    go = true;
  }
  auto start = Clock::now();
  cv.notify_all();
  for (auto& t : threads) t.join();
  double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

  int failures = 0, requests = 0;
  std::vector<double> latencies, totals;
  for (const auto& o2 : outcomes) {
    if (!o2.ok) {
      ++failures;
      std::fprintf(stderr, "client failed: %s\n", o2.error.c_str());
    }
    requests += o2.requests;
    latencies.insert(latencies.end(), o2.latenciesMs.begin(), o2.latenciesMs.end());
    totals.push_back(o2.totalMs);
  }
  size_t journaled = emu.Journal().size();
  emu.Stop();
  curl_global_cleanup();

  std::printf("clients %d, task processing %d ms\n", clients, processingMs);
  std::printf("completed %d, failed %d, requests %d (journaled %zu)\n", clients - failures, failures, requests,
              journaled);
  std::printf("wall %.0f ms; per life cycle p50 %.0f ms, max %.0f ms\n", wallMs, Percentile(totals, 0.5),
              Percentile(totals, 1.0));
  std::printf("request latency p50 %.1f ms, p95 %.1f ms, max %.1f ms\n", Percentile(latencies, 0.5),
              Percentile(latencies, 0.95), Percentile(latencies, 1.0));
  std::printf("life cycle vs processing time: %.2fx\n",
              processingMs ? Percentile(totals, 0.5) / processingMs : 0.0);
  return failures == 0 && requests > 0 ? 0 : 1;
}
