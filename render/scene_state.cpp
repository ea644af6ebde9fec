#include "render/scene_state.h"

#include "app/random.h"

TPhotoPanel PhotoPanel;
std::array<TStar, kStarCount> StarField{};

float StarPhase = 200.0f;
float FrameStep = 0.0f;
bool SetupPending = false;
bool UploadPending = false;
std::int32_t NextUploadTile = 0;
std::int32_t TilesUploaded = 0;

double EyeX = 0.0;
double EyeY = 0.0;
double EyeZ = kEyeZ;
std::int32_t Yaw = 899;
std::int32_t Pitch = 0;

std::int32_t PanelWidth = 0;
std::int32_t PanelHeight = 0;
std::int32_t LastTileIndex = -1;

void InitStarField() {
    for (TStar& star : StarField) {
        // Two statements fix the order of the draws: x first, then y.
        star.StarX = static_cast<float>((RandomUnit() - 0.5) * kStarSpread);
        star.StarY = static_cast<float>((RandomUnit() - 0.5) * kStarSpread);
    }
}

void LaunchPanel(TPhotoPanel& panel) {
    panel.Distance = static_cast<float>(kDepthRange);
    panel.OffsetX = static_cast<float>((RandomUnit() - 0.5) * kOffsetSpread + kOffsetBiasX);
    panel.OffsetY = static_cast<float>((RandomUnit() - 0.5) * kOffsetSpread + kOffsetBiasY);
}

void AdvancePanel(TPhotoPanel& panel, float frameStep) {
    panel.Distance -= frameStep;
}
