#include "render/scene_state.h"

#include "base/random.h"

void InitStarField(std::array<TStar, kStarCount>& stars, TRandom& random) {
    for (TStar& star : stars) {
        // Two statements fix the order of the draws: x first, then y.
        star.StarX = static_cast<float>((random.Unit() - 0.5) * kStarSpread);
        star.StarY = static_cast<float>((random.Unit() - 0.5) * kStarSpread);
    }
}

void LaunchPanel(TPhotoPanel& panel, TRandom& random) {
    panel.Distance = static_cast<float>(kDepthRange);
    panel.OffsetX = static_cast<float>((random.Unit() - 0.5) * kOffsetSpread + kOffsetBiasX);
    panel.OffsetY = static_cast<float>((random.Unit() - 0.5) * kOffsetSpread + kOffsetBiasY);
}

void AdvancePanel(TPhotoPanel& panel, float frameStep) {
    panel.Distance -= frameStep;
}
