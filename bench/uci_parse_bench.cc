// SPDX-License-Identifier: MIT
// Cost of reading config files with the UCI layer of our own: a typical
// identity file, and the slowest files that its bounds still admit (as many
// named sections as allowed, full sections, a file of the largest size).

#include <benchmark/benchmark.h>
#include <uci.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string make_dir() {
  char pattern[] = "/tmp/quorvel-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  return pattern;
}

void write_file(const std::string &path, const std::string &content) {
  FILE *out = fopen(path.c_str(), "wb");
  if (out == nullptr) abort();
  fwrite(content.data(), 1, content.size(), out);
  fclose(out);
}

void lookup_loop(benchmark::State &state, const std::string &content, const char *path) {
  std::string dir = make_dir();
  std::string file = dir + "/p";
  write_file(file, content);
  int status = UCI_OK;
  for (auto _ : state) {
    uci_context *ctx = uci_alloc_context();
    uci_set_confdir(ctx, dir.c_str());
    std::string text = path;
    uci_ptr ptr{};
    status = uci_lookup_ptr(ctx, &ptr, text.data(), true);
    benchmark::DoNotOptimize(ptr.last);
    uci_free_context(ctx);
  }
  state.counters["status"] = status;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
  unlink(file.c_str());
  rmdir(dir.c_str());
}

void BM_IdentityFile(benchmark::State &state) {
  lookup_loop(state,
              "config info 'deviceInfo'\n"
              "\toption DEVICE_ID 'dev-0042'\n"
              "\toption CHANNEL_SECRET 's3cr3t'\n",
              "p.deviceInfo.DEVICE_ID");
}

void BM_MostNamedSections(benchmark::State &state) {
  std::string content;
  for (int i = 0; i < 8192; ++i) content += "config t s" + std::to_string(i) + "\n";
  lookup_loop(state, content, "p.s8191.a");
}

void BM_FullSections(benchmark::State &state) {
  std::string content;
  for (int s = 0; s < 64; ++s) {
    content += "config t s" + std::to_string(s) + "\n";
    for (int o = 0; o < 1000; ++o) content += "option o" + std::to_string(o) + " v\n";
  }
  lookup_loop(state, content, "p.s63.o999");
}

void BM_LargestFileOfComments(benchmark::State &state) {
  std::string line = "# " + std::string(1000, 'c') + "\n";
  std::string content;
  while (content.size() + line.size() <= 2 * 1024 * 1024) content += line;
  lookup_loop(state, content, "p.s.a");
}

BENCHMARK(BM_IdentityFile);
BENCHMARK(BM_MostNamedSections);
BENCHMARK(BM_FullSections);
BENCHMARK(BM_LargestFileOfComments);

}  // namespace

BENCHMARK_MAIN();
