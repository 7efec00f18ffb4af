// Makes the SpectrumAnalyzer of each playback, behind the engine's DisplayFactory.
#pragma once

#include "player/playback_collaborators.h"

DisplayFactory& SpectrumAnalyzers();
