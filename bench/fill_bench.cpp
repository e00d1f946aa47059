// Cutting an aid-account reply into CStipendoInfo records, as Stipendo does
// with every answer: the client-side cost of one exchange's records.
#include <benchmark/benchmark.h>

#include <QString>

#include <array>
#include <cstdio>
#include <string>

#include "tessel/data_array.h"
#include "tessel/records.h"
#include "wire/layouts.h"
#include "wire/framing.h"

namespace {

std::string studentId(int record) {
  std::string id = "S";
  id += std::to_string(100200 + record / 3);  // three accounts per student
  return id;
}

// Built the way the server builds it, so the widths and padding are the real ones.
QString aidReply(int records) {
  static constexpr std::array<const char*, 6> kAgencies = {
      "State Student Assistance Commission",
      "Veterans Education Benefits Office",
      "Bürgerstiftung für Studierende",
      "Fondation étudiante du Québec",
      "東京都育英奨学会",
      "Athletic Department Book Grant",
  };
  std::string utf8;
  for (int i = 0; i < records; ++i) {
    wire::RecordWriter writer(wire::layouts::aidAccount());
    std::string agencyNumber = "AG-";
    agencyNumber += std::to_string(40000 + 17 * i);
    writer.text(studentId(i))
        .text(kAgencies[std::size_t(i) % kAgencies.size()])
        .text(agencyNumber)
        .text("2024-08-15")
        .text("2025-05-31")
        .money(125000 - 731 * i)  // some balances go negative, as real ones do
        .money(150000)
        .money(25000 - 377 * i);
    auto record = writer.finish();
    if (!record) return {};
    utf8 += *record;
  }
  return QString::fromUtf8(utf8);
}

constexpr int kReplySizes[] = {1, 100};

// A reply the cut gets wrong would make the figure meaningless.
bool cutsRight(int records) {
  const QString reply = aidReply(records);
  CDataArray<CStipendoInfo> check;
  check.FillFromResponse(reply);
  return !reply.isEmpty() && check.GetSize() == records &&
         check.GetAt(records - 1).m_strStudentID == QString::fromStdString(studentId(records - 1));
}

void BM_FillStipendo(benchmark::State& state) {
  const int records = int(state.range(0));
  const QString reply = aidReply(records);
  for (auto _ : state) {
    CDataArray<CStipendoInfo> array;
    array.FillFromResponse(reply);
    benchmark::DoNotOptimize(array);
  }
  state.SetItemsProcessed(state.iterations() * records);
  state.SetBytesProcessed(state.iterations() * reply.size() * qsizetype(sizeof(char16_t)));
}
BENCHMARK(BM_FillStipendo)->Arg(kReplySizes[0])->Arg(kReplySizes[1]);

}  // namespace

int main(int argc, char** argv) {
  for (int records : kReplySizes)
    if (!cutsRight(records)) {
      std::fprintf(stderr, "fill_bench: a reply of %d records did not cut into the records it was built from\n",
                   records);
      return 1;
    }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
