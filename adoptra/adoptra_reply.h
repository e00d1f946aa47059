#pragma once
// Adoptra's lookup reply: course section records, then optionally problem
// records. The problem list starts at the first carriage return followed by
// "PRB"; the carriage return ends the course text, "PRB" starts the problems.
#include <QString>

struct CAdoptraReply {
  QString m_strCourses;
  QString m_strProblems;  // empty when the reply holds no problem list
  bool m_bHasProblems = false;
};

CAdoptraReply SplitAdoptraReply(const QString& reply);
