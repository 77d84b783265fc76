#pragma once

// Table tests whose rows carry a name: a row derived from NamedRow prints as its name in
// failure messages (not as its bytes), and RowName lists each case under that name.
//
//   struct SplitCase : testsupport::NamedRow {
//     QString text;
//   };
//   INSTANTIATE_TEST_SUITE_P(Table, SplitTest, testing::Values(SplitCase{"Empty", {}}),
//                            testsupport::RowName());

#include <gtest/gtest.h>

#include <concepts>
#include <ostream>
#include <string>

namespace testsupport {

// The first field of a row: letters, digits and '_' only, as gtest wants of a case's name.
struct NamedRow {
  const char* name;
};

// Found for any row derived from NamedRow, and preferred there to gtest's byte dump.
template <std::derived_from<NamedRow> Row> void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

// The name generator for INSTANTIATE_TEST_SUITE_P: each case is named after its row's name.
struct RowName {
  template <class Row> std::string operator()(const testing::TestParamInfo<Row>& info) const {
    return std::string(info.param.name);
  }
};

} // namespace testsupport
