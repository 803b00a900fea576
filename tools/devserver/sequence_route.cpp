#include "tools/devserver/sequence_route.h"

#include <atomic>
#include <vector>

#include "tools/devserver/response_route.h"

namespace DevServer {

namespace {

class SequenceRoute final : public IRoute {
 public:
  explicit SequenceRoute(std::vector<std::unique_ptr<ResponseSpec>> steps)
      : m_steps(std::move(steps)) {}

  Reply Answer(const Request& request) override {
    const std::size_t n = m_next.fetch_add(1);
    return m_steps[std::min(n, m_steps.size() - 1)]->Make(request);
  }

 private:
  std::vector<std::unique_ptr<ResponseSpec>> m_steps;
  std::atomic<std::size_t> m_next{0};
};

}  // namespace

std::unique_ptr<IRoute> MakeSequenceRoute(ObjectReader& reader, const RouteContext& context) {
  const auto* list = reader.Array("sequence");
  if (list == nullptr || list->empty()) reader.Fail("sequence", "must be a non-empty list");
  std::vector<std::unique_ptr<ResponseSpec>> steps;
  for (std::size_t i = 0; i < list->size(); ++i) {
    ObjectReader step((*list)[i], reader.Where() + " sequence " + std::to_string(i + 1));
    steps.push_back(std::make_unique<ResponseSpec>(step, context));
    step.Finish();
  }
  return std::make_unique<SequenceRoute>(std::move(steps));
}

}  // namespace DevServer
