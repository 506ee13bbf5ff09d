#include "audio/audio_log.h"

namespace sonorel {

Q_LOGGING_CATEGORY(audioLog, "dev.mirthwork.SonorelDoctor.audio")

}  // namespace sonorel
