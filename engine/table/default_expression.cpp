#include "engine/table/default_expression.h"

#include <mutex>

namespace rzv {

namespace {

std::mutex g_mutex;
std::shared_ptr<const RzvDefaultExpressionEvaluator> g_evaluator;

}  // namespace

void SetDefaultExpressionEvaluator(RzvDefaultExpressionEvaluator evaluator) {
  std::shared_ptr<const RzvDefaultExpressionEvaluator> next;
  if (evaluator) {
    next = std::make_shared<const RzvDefaultExpressionEvaluator>(std::move(evaluator));
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_evaluator = std::move(next);
}

std::shared_ptr<const RzvDefaultExpressionEvaluator> DefaultExpressionEvaluator() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_evaluator;
}

}  // namespace rzv
