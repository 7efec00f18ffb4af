#include "visual/spectrum_analyzer_factory.h"

// Placeholder until the spectrum lands: the engine's blank display.
DisplayFactory& SpectrumAnalyzers() {
  static DisplayFactory* const blank = DefaultCollaborators().displays;
  return *blank;
}
