// The runner's expression parser on any text: parse and checkExpression agree, a refused text says
// where, a valid one lists its tags once each and evaluates to a finite value or an error under
// lookups that succeed, fail, or give extreme values.

#include "fuzz/FuzzCheck.h"
#include "lang/Expression.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error = "stale";
    const kelm::Expression expression = kelm::Expression::parse(text, error);
    FUZZ_CHECK(kelm::checkExpression(text) == error);
    if (!expression.valid()) {
        // Every refusal but that of an empty text says where.
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(error.find(" at column ") != std::string::npos || error == "The expression is empty.");
        return 0;
    }
    FUZZ_CHECK(error.empty());
    const std::vector<std::string>& tags = expression.tags();
    FUZZ_CHECK(std::set<std::string>(tags.begin(), tags.end()).size() == tags.size());

    const double extremes[] = {0.0, 1.0, -1.0, 1e308, -1e308, std::numeric_limits<double>::denorm_min()};
    for (double value : extremes) {
        const kelm::ExprResult result = expression.evaluate([&](const std::string& tag) {
            FUZZ_CHECK(std::find(tags.begin(), tags.end(), tag) != tags.end());
            return kelm::ExprResult::of(value);
        });
        FUZZ_CHECK(result.ok() ? std::isfinite(result.value) && result.error.empty() : !result.error.empty());
    }
    const kelm::ExprResult failed =
        expression.evaluate([](const std::string&) { return kelm::ExprResult::failure("no such variable"); });
    FUZZ_CHECK(failed.ok() || !failed.error.empty());
    if (tags.empty())
        FUZZ_CHECK(failed.ok() || failed.error != "no such variable");
    return 0;
}
