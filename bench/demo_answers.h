#pragma once
// What the demo store should answer to the queries the benchmarks send, so a
// wrong answer counts as an error, never as throughput.
#include <QString>

#include <string>
#include <vector>

#include "tessel/query_strings.h"
#include "wire/framing.h"
#include "wire/layouts.h"

namespace bench {

// A demo student with aid accounts, and how many they hold.
struct Student {
  QString id;
  int accounts;
  QString query;
};

inline std::vector<Student> demoStudents() {
  std::vector<Student> students{{"S100200", 1, {}}, {"s100200", 2, {}}, {"S100300", 3, {}}};
  for (Student& s : students) s.query = CGlobalQueryStrings::GetStipendo(s.id);
  return students;
}

// Empty when reply holds exactly the student's aid-account records; otherwise
// what is wrong with it.
inline std::string aidAccountProblem(const Student& student, const QString& reply) {
  const qsizetype size = qsizetype(wire::layouts::aidAccount().dataSize());
  if (reply.size() == size * student.accounts && reply.startsWith(QLatin1String("AID")) &&
      reply.mid(qsizetype(wire::kHeaderWidth), student.id.size()) == student.id)
    return {};
  return "unexpected records for " + student.id.toStdString() + ": " + reply.left(80).toStdString();
}

}  // namespace bench
