// The seam through which the expression engine evaluates field defaults such
// as a current-date call. The query layer installs the evaluator; until then
// every default is a plain literal.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "engine/table/variant.h"

namespace rzv {

// Parses text as an expression and evaluates it without a record. Returns
// nullopt when text is not such an expression; may raise on evaluation
// errors.
using RzvDefaultExpressionEvaluator =
    std::function<std::optional<RzvVariant>(std::string_view text)>;

// Installs (or, with an empty function, removes) the process-wide evaluator.
// Field definitions classify their defaults when the default changes, so the
// evaluator belongs in place before table definitions are loaded.
void SetDefaultExpressionEvaluator(RzvDefaultExpressionEvaluator evaluator);
// The installed evaluator, or nullptr.
std::shared_ptr<const RzvDefaultExpressionEvaluator> DefaultExpressionEvaluator();

}  // namespace rzv
