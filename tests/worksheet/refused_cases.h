// Worksheets that must be refused, each with the line its message names and a part of
// the message; shared by the worksheet suite's files.
#pragma once

#include <gtest/gtest.h>

#include "velk/worksheet/worksheet.h"

#include <string>
#include <vector>

namespace worksheet_cases {

struct BadCase {
    std::string text;
    int line;
    std::string message;
};

// Each text, read as "bad.vws", is refused on its line, the message starting with
// "bad.vws:<line>: " and holding the case's message.
inline void ExpectRefused(const std::vector<BadCase>& cases) {
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.text);
        velk::WorksheetResult r = velk::parseWorksheet(c.text, "bad.vws");
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.errorLine, c.line) << r.error;
        EXPECT_EQ(r.error.rfind("bad.vws:" + std::to_string(c.line) + ": ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    }
}

}  // namespace worksheet_cases
