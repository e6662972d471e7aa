// Property-list throughput on a document of 10,000 small dictionaries:
// writing, reading, and pugixml parsing the same bytes on its own (the floor
// for the XML reader). BM_PropertyListRead reports read_vs_pugixml, the time
// of a full read over pugixml's load_buffer alone.

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>

#include "platform/PropertyList.h"

namespace {

using namespace platform;

constexpr int kEntries = 10000;

Value makeDocument() {
  Array entries;
  entries.reserve(kEntries);
  const Date base{std::chrono::sys_days{std::chrono::year{2024} / 1 / 1}};
  for (int i = 0; i < kEntries; ++i) {
    Dictionary entry;
    entry.emplace("name", Value("Clip " + std::to_string(i) + " & <take>"));
    entry.emplace("frames", Value(i * 25));
    entry.emplace("duration", Value(i * 0.04));
    entry.emplace("enabled", Value(i % 3 != 0));
    entry.emplace("created", Value(base + std::chrono::seconds{i * 61}));
    entry.emplace("tags", Value(Array{Value("news"), Value(std::to_string(i % 7))}));
    if (i % 10 == 0) entry.emplace("thumbnail", Value(Data(48, static_cast<std::uint8_t>(i))));
    entries.push_back(Value(std::move(entry)));
  }
  return Value(Dictionary{{"entries", Value(std::move(entries))}, {"version", Value(3)}});
}

const Value& document() {
  static const Value value = makeDocument();
  return value;
}

const std::string& documentBytes() {
  static const std::string bytes = *writePropertyList(document());
  return bytes;
}

template <typename Function>
double bestSeconds(int runs, Function function) {
  double best = 1e9;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    function();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

bool pugixmlLoad(const std::string& bytes) {
  pugi::xml_document xml;
  return static_cast<bool>(xml.load_buffer(bytes.data(), bytes.size()));
}

// Measured once, outside the timed loop: best of several runs of each.
double readOverPugixml() {
  static const double ratio = [] {
    const std::string& bytes = documentBytes();
    const double read = bestSeconds(5, [&] { benchmark::DoNotOptimize(readPropertyList(bytes)); });
    const double pugixml = bestSeconds(5, [&] { benchmark::DoNotOptimize(pugixmlLoad(bytes)); });
    return read / pugixml;
  }();
  return ratio;
}

void BM_PropertyListWrite(benchmark::State& state) {
  const Value& value = document();
  for (auto _ : state) {
    Result<std::string> bytes = writePropertyList(value);
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(documentBytes().size()));
}
BENCHMARK(BM_PropertyListWrite)->Unit(benchmark::kMillisecond);

void BM_PropertyListRead(benchmark::State& state) {
  const std::string& bytes = documentBytes();
  for (auto _ : state) {
    Result<Value> value = readPropertyList(bytes);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
  state.counters["read_vs_pugixml"] = readOverPugixml();
}
BENCHMARK(BM_PropertyListRead)->Unit(benchmark::kMillisecond);

void BM_PropertyListPugixmlLoadBuffer(benchmark::State& state) {
  const std::string& bytes = documentBytes();
  for (auto _ : state) benchmark::DoNotOptimize(pugixmlLoad(bytes));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_PropertyListPugixmlLoadBuffer)->Unit(benchmark::kMillisecond);

}  // namespace
