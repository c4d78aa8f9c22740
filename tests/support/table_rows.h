#pragma once

#include <gtest/gtest.h>

namespace tertulia::testing {

// Runs `check` on every row of a table; a failure inside names the row by its `name`.
template <typename Rows, typename Check>
void ForEachRow(const Rows& rows, Check check) {
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        check(row);
    }
}

}  // namespace tertulia::testing
