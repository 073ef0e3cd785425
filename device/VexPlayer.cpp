#include "device/VexPlayer.h"

// No prompt files or player yet: the prompts are silent.
void VexPlayer::playDong() {}
void VexPlayer::playKeyPress() {}
