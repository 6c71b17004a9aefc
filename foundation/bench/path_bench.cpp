#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "foundation/vk_env.h"
#include "foundation/vk_path.h"

namespace {

// Every input path is expanded and split once per file.
const std::string kPath =
    "C:\\Users\\examiner\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\AutomaticDestinations\\"
    "5f7b5f1e01b83767.automaticDestinations-ms";

void BM_SplitPath(benchmark::State& state) {
  std::string dir, name;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vk::split_path(kPath, dir, name));
    benchmark::DoNotOptimize(name.data());
  }
}
BENCHMARK(BM_SplitPath);

void BM_ExpandEnvVarsPlain(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vk::expand_env_vars(kPath, true));
}
BENCHMARK(BM_ExpandEnvVarsPlain);

void BM_ExpandEnvVarsReferences(benchmark::State& state) {
  setenv("VK_BENCH_HOME", "/home/examiner", 1);
  unsetenv("VSS");
  const std::string text = "%VK_BENCH_HOME%/cases/%VSS%3\\Windows\\%UNDEFINED_NAME%\\x.lnk";
  for (auto _ : state) benchmark::DoNotOptimize(vk::expand_env_vars(text, true));
}
BENCHMARK(BM_ExpandEnvVarsReferences);

void BM_TakeOptionValue(benchmark::State& state) {
  const std::vector<std::string> base{"vesk", "-csv", "-quiet", "-out", "report.txt", "file.lnk"};
  std::string value;
  for (auto _ : state) {
    std::vector<std::string> args = base;
    benchmark::DoNotOptimize(vk::take_option_value("-out", value, args));
  }
}
BENCHMARK(BM_TakeOptionValue);

}  // namespace
