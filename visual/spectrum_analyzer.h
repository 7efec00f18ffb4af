// The live spectrum of one playback: attached to the playback's output, it receives
// windows of the samples being heard on the consumer's DSP thread, turns each into 40
// bars with falling levels and peak marks, and draws the frame into the window.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/gdi/gdi.h"
#include "player/playback_collaborators.h"
#include "visual/digital_signal_processing_audio_data_consumer.h"
#include "visual/digital_signal_processor.h"
#include "visual/dsp_clock.h"
#include "visual/spectrum_levels.h"

class SpectrumAnalyzer final : public SpectrumDisplay, public DigitalSignalProcessor {
 public:
  static constexpr int kTicksPerSecond = 70;
  static constexpr platform::gdi::COLORREF kBackgroundColor = platform::gdi::RGB(0, 0, 0);
  static constexpr platform::gdi::COLORREF kGridColor = platform::gdi::RGB(22, 53, 3);
  static constexpr platform::gdi::COLORREF kBarColor = platform::gdi::RGB(81, 254, 5);
  static constexpr platform::gdi::COLORREF kPeakColor = platform::gdi::RGB(255, 255, 255);
  static constexpr platform::gdi::COLORREF kGradientTop = platform::gdi::RGB(255, 24, 0);
  static constexpr platform::gdi::COLORREF kGradientMiddle = platform::gdi::RGB(240, 255, 0);
  static constexpr platform::gdi::COLORREF kGradientBottom = platform::gdi::RGB(12, 255, 0);

  // Window's thread. Measures the window's client area once, for this analyser's life.
  // clock paces the DSP thread and must outlive the analyser.
  explicit SpectrumAnalyzer(platform::ui::HWND window, DspClock& clock = PerformanceCounterClock());
  ~SpectrumAnalyzer() override;

  // Playback thread.
  void Attach(AudioOutput* output) override;
  void Detach() override;
  AudioDataConsumer* Consumer() override { return consumer.get(); }
  bool ConsumerActive() const override { return consumerActive; }
  void PauseDspThread() override;
  void ResumeDspThread() override;

  // DSP thread: analyses one window and draws the frame.
  void Process(float* left, float* right, float timeScale) override;
  // The transform takes the window's first frames only.
  std::uint32_t FramesRead() const override { return SpectrumLevels::kFftSize; }

  const char16_t* Name() const { return name; }
  const SpectrumLevels& Levels() const { return levels; }
  // Before the first frame. On: frames are drawn with one GDI call per drawing step, the
  // plain reference the composed picture is checked against. Off (the default): each
  // frame is composed straight into the back buffer, the same picture at a fraction of
  // the cost.
  void DrawWithGdiCalls(bool on) { drawWithGdiCalls = on; }

  // Paints the two-segment vertical gradient top -> middle -> bottom over rect.
  static bool PaintGradient(const platform::gdi::RECT& rect, platform::gdi::HDC dc,
                            platform::gdi::COLORREF top, platform::gdi::COLORREF middle,
                            platform::gdi::COLORREF bottom);

 private:
  void SetUpDrawing();
  void TearDownDrawing();
  void DrawBar(platform::gdi::HDC dc, int x, int clientHeight, int barWidth, int barHeight,
               int band);
  // One frame's bars, updating levels and peaks, either way: the results are equal.
  // ComposeFrame without `draw` only updates them.
  void DrawFrameWithGdiCalls(float fall);
  void ComposeFrame(float fall, bool draw);

  char16_t name[260] = {};
  platform::ui::HWND window;
  std::mutex lock;                                                     // serialises Detach
  std::unique_ptr<DigitalSignalProcessingAudioDataConsumer> consumer;  // playback thread
  SpectrumLevels levels;                                               // DSP thread once attached
  std::int32_t lineStep = 1;
  AudioOutput* output = nullptr;  // playback thread
  bool consumerActive = false;    // playback thread
  std::int32_t ticksPerSecond = kTicksPerSecond;
  DspClock& clock;

  // Drawing state: made on the window's thread, drawn with on the DSP thread only,
  // released after Detach.
  platform::gdi::RECT clientRect;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::unique_ptr<platform::gdi::DeviceContext> windowDC;
  std::unique_ptr<platform::gdi::DeviceContext> backDC;
  std::unique_ptr<platform::gdi::DeviceContext> gradientDC;
  std::unique_ptr<platform::gdi::Bitmap> backBitmap;
  platform::gdi::HBITMAP backPrevious = nullptr;
  std::unique_ptr<platform::gdi::Bitmap> gradientBitmap;
  platform::gdi::HBITMAP gradientPrevious = nullptr;
  std::unique_ptr<platform::gdi::Brush> backgroundBrush;
  std::unique_ptr<platform::gdi::Brush> gridBrush;
  std::unique_ptr<platform::gdi::Brush> barBrush;
  std::unique_ptr<platform::gdi::Brush> peakBrush;
  bool drawWithGdiCalls = false;

  // What the back buffer shows, so that ComposeFrame redraws only the rows that change.
  struct ComposedBar {
    int left, right;  // columns, clipped to the client area
    int top;          // first bar row
    int peakRow;      // height when the mark lies below the client area or is hidden
  };
  struct Look {
    bool grids, gradient, peaks;
    bool operator==(const Look&) const = default;
  };
  std::array<ComposedBar, SpectrumLevels::kBandCount> shownBars{};
  int shownBarCount = 0;
  Look shownLook{};
  bool backShowsComposition = false;  // false until composed, and after a GDI-drawn frame
  // A whole redraw's two row patterns, width pixels each, and the gradient's colour
  // in each row: made at set-up.
  std::vector<std::uint32_t> upperRow;
  std::vector<std::uint32_t> stripeRow;
  std::vector<std::uint32_t> gradientRows;
};
