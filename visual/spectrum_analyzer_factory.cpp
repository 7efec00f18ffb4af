#include "visual/spectrum_analyzer_factory.h"

#include "visual/spectrum_analyzer.h"

namespace {

class SpectrumAnalyzerFactory final : public DisplayFactory {
 public:
  std::unique_ptr<SpectrumDisplay> CreateSpectrumAnalyzer(platform::ui::HWND window) override {
    return std::make_unique<SpectrumAnalyzer>(window);
  }
};

}  // namespace

DisplayFactory& SpectrumAnalyzers() {
  static SpectrumAnalyzerFactory factory;
  return factory;
}
