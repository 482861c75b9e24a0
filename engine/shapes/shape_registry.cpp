#include <mutex>

#include "engine/document/page.h"
#include "engine/shapes/shape.h"

namespace dtp {

namespace {

std::vector<std::unique_ptr<TShapeClassHolder>>& Registry() {
  static std::vector<std::unique_ptr<TShapeClassHolder>> registry;
  return registry;
}

const TShapeClassHolder* Append(std::string name,
                                std::function<std::unique_ptr<TdtpShape>()> create) {
  auto& reg = Registry();
  for (const auto& h : reg)
    if (h->Name == name) return h.get();
  reg.push_back(
      std::make_unique<TShapeClassHolder>(TShapeClassHolder{std::move(name), std::move(create)}));
  return reg.back().get();
}

// The engine's own classes, registered once before the first lookup.
void RegisterEngineShapeClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    Append(TdtpShape::StaticClassName(), [] { return std::make_unique<TdtpShape>(); });
    Append(TdtpPage::StaticClassName(), [] { return std::make_unique<TdtpPage>(); });
  });
}

} // namespace

const TShapeClassHolder* RegisterShapeClass(std::string name,
                                            std::function<std::unique_ptr<TdtpShape>()> create) {
  RegisterEngineShapeClasses();
  return Append(std::move(name), std::move(create));
}

const TShapeClassHolder* FindShapeClass(std::string_view name) {
  RegisterEngineShapeClasses();
  const auto& reg = Registry();
  for (const auto& h : reg)
    if (h->Name == name) return h.get();
  return reg.front().get();
}

std::unique_ptr<TdtpShape> CreateShape(std::string_view className) {
  return FindShapeClass(className)->Create();
}

} // namespace dtp
