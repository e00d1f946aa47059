// Adoptra's lookup reply split into sections and problems, and the detail
// lines built from them.
#include <gtest/gtest.h>

#include "tessel/adoptra_fill.h"
#include "tessel/adoptra_reply.h"

namespace {

TEST(SplitAdoptraReply, SplitsAtTheFirstCarriageReturnBeforePRB) {
  struct Case {
    QString reply, courses, problems;
    bool hasProblems;
  };
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

TEST(AdoptraFill, OneBookGivesSeventeenLinesWithTheSectionUntrimmed) {
  CAdoptraInfo course;
  course.m_strDepartment = QStringLiteral("  ENG");
  CAdoptraDetailInfo book;
  book.m_nSKU = 10001;
  book.m_strNewPrice = QStringLiteral("00054.99");
  book.m_nRequestType = 4;
  book.m_nProblem = 1;
  book.m_strDesc = QStringLiteral("Effective Java");
  CDataArray<CAdoptraDetailInfo> books;
  books.Add(book);
  CAdoptraFill fill;
  EXPECT_FALSE(fill.FillCourse(course, nullptr));
  EXPECT_TRUE(fill.GetDataArr().isEmpty());
  ASSERT_TRUE(fill.FillCourse(course, &books));
  const CDataLines& lines = fill.GetDataArr();
  ASSERT_EQ(lines.size(), 17);
  EXPECT_EQ(lines[2].m_strValue, QStringLiteral("  ENG"));
  EXPECT_EQ(lines[8].m_strValue, QStringLiteral("$54.99"));
  EXPECT_EQ(lines[12].m_strLabel, QStringLiteral("Request Type:"));
  EXPECT_EQ(lines[12].m_strValue, QString());
  EXPECT_EQ(lines[13].m_strValue, QStringLiteral("Yes"));
  EXPECT_EQ(lines[15].m_strValue, QStringLiteral("Effective Java"));
  EXPECT_EQ(CAdoptraFill::GetRequestTypeText(2), QStringLiteral("Recommended"));
}

TEST(ProblemFill, FiveLinesPerReport) {
  CDataArray<CProblemInfo> problems;
  CProblemFill fill;
  EXPECT_FALSE(fill.Fill(nullptr));
  EXPECT_TRUE(fill.Fill(&problems));
  EXPECT_TRUE(fill.GetDataArr().isEmpty());
  problems.Add(CProblemInfo());
  problems.Add(CProblemInfo());
  EXPECT_TRUE(fill.Fill(&problems));
  EXPECT_EQ(fill.GetDataArr().size(), 10);
}

}  // namespace
