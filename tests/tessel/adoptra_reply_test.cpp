// Adoptra's lookup reply split into sections and problems.
#include <gtest/gtest.h>

#include "tessel/adoptra_reply.h"

namespace {

TEST(SplitAdoptraReply, SplitsAtTheFirstCarriageReturnBeforePRB) {
  struct Case { QString reply, courses, problems; bool hasProblems; };
  const Case cases[] = {
      {"ADO1\rADO2\r", "ADO1\rADO2\r", "", false},                      // no marker
      {"\rPRB1\r", "", "PRB1\r", true},                                 // marker at 0
      {"ADO1\rPRB1\rPRB2\r", "ADO1", "PRB1\rPRB2\r", true},             // the first marker splits
      {"ADO PRB\rADO2\r", "ADO PRB\rADO2\r", "", false},                // PRB without a carriage return
  };
  for (const Case& c : cases) {
    const CAdoptraReply split = SplitAdoptraReply(c.reply);
    EXPECT_EQ(split.m_strCourses, c.courses) << c.reply.toStdString();
    EXPECT_EQ(split.m_strProblems, c.problems) << c.reply.toStdString();
    EXPECT_EQ(split.m_bHasProblems, c.hasProblems) << c.reply.toStdString();
  }
}

}  // namespace
