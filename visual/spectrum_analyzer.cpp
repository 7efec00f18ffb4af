#include "visual/spectrum_analyzer.h"

#include "platform/kernel/strsafe.h"

namespace gdi = platform::gdi;

SpectrumAnalyzer::SpectrumAnalyzer(platform::ui::HWND mainWindow, DspClock& dspClock)
    : window(mainWindow), clock(dspClock) {
  char16_t shortName[64];
  const auto handle =
      static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(window) & 0x7FFFFFFF);
  platform::StringCbPrintfW(shortName, sizeof shortName, u"SpectrumAnalyzer[%d]", {handle});
  platform::StringCchCopyW(name, std::size(name), shortName);
  SetUpDrawing();
}

SpectrumAnalyzer::~SpectrumAnalyzer() {
  Detach();
  TearDownDrawing();
}

void SpectrumAnalyzer::Attach(AudioOutput* followed) {
  if (consumer != nullptr) return;  // attached already: one consumer per analyser
  if (followed != nullptr) output = followed;
  consumer = std::make_unique<DigitalSignalProcessingAudioDataConsumer>(ticksPerSecond, clock);
  consumer->AddProcessor(this);
  if (output != nullptr) {
    consumer->StartProcessing(output);
    consumerActive = true;
  }
}

void SpectrumAnalyzer::Detach() {
  if (consumer == nullptr) return;
  {
    std::scoped_lock hold(lock);
    consumer->StopProcessing();
    consumer->RemoveProcessor(this);
  }
  consumer.reset();
  consumerActive = false;
}

void SpectrumAnalyzer::PauseDspThread() {
  if (consumer != nullptr) consumer->PauseThread();
}

void SpectrumAnalyzer::ResumeDspThread() {
  if (consumer != nullptr) consumer->ResumeThread();
}

void SpectrumAnalyzer::Process(float* left, float* right, float timeScale) {
  levels.Analyse(left, right);
  const float fall = levels.Decay() * timeScale;
  if (!window->ShowsFrames()) {
    ComposeFrame(fall, false);  // levels and peaks move on; nothing is drawn
    return;
  }
  if (drawWithGdiCalls || lineStep != 1) {
    DrawFrameWithGdiCalls(fall);
  } else {
    ComposeFrame(fall, true);
  }
  gdi::BitBlt(windowDC.get(), clientRect.left, clientRect.top, width, height, backDC.get(),
              clientRect.left, clientRect.top, gdi::SRCCOPY);
}
