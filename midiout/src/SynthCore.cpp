#include "SynthCore.h"

#include "EffectsSwitch.h"
#include "EngineCrossing.h"
#include "FluidApi.h"
#include "PresetLoader.h"

#include <QDir>
#include <QFileInfo>

namespace midiout
{

namespace
{

const char *const SoundFontFolder = "/usr/share/sounds/sf2";
// Debian's alternative for a General MIDI SoundFont with compressed samples.
const char *const CompressedSoundFont = "/usr/share/sounds/sf3/default-GM.sf3";

// FluidSynth's messages are dropped: what fails is reported by our own diagnostics.
void dropLogMessage(int, const char *, void *) {}

} // namespace

QStringList DefaultSoundFonts()
{
    const QDir folder(QString::fromLatin1(SoundFontFolder));
    QStringList paths{folder.filePath(QStringLiteral("default-GM.sf2")),
                      QString::fromLatin1(CompressedSoundFont)};
    const auto others =
        folder.entryList({QStringLiteral("*.sf2")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : others)
        if (name != QLatin1String("default-GM.sf2"))
            paths.append(folder.filePath(name));
    return paths;
}

void Diagnostics::note(const QString &problem)
{
    const std::lock_guard lock(mutex_);
    if (!problem.isEmpty() && (lines_.isEmpty() || lines_.last() != problem))
        lines_.append(problem);
}

QString Diagnostics::text() const
{
    const std::lock_guard lock(mutex_);
    return lines_.join(QLatin1Char('\n'));
}

SynthCore::~SynthCore()
{
    if (synth_ != nullptr)
        fluid_->delete_fluid_synth(synth_);
    if (settings_ != nullptr)
        fluid_->delete_fluid_settings(settings_);
}

void SynthCore::load()
{
    const Load result = build() ? Load::Loaded : Load::Failed;
    const std::lock_guard lock(loadMutex_);
    state_.store(result, std::memory_order_release);
    loaded_.notify_all();
}

bool SynthCore::waitLoaded(std::chrono::milliseconds bound) const
{
    std::unique_lock lock(loadMutex_);
    loaded_.wait_for(lock, bound, [this] { return state() != Load::Pending; });
    return state() == Load::Loaded;
}

bool SynthCore::build()
{
    QString error;
    fluid_ = LoadFluidApi(&error);
    if (fluid_ == nullptr) {
        diagnostics_.note(QStringLiteral("no synthesizer: %1").arg(error));
        return false;
    }
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        fluid_->fluid_set_log_function(level, &dropLogMessage, nullptr);
    settings_ = fluid_->new_fluid_settings();
    fluid_->fluid_settings_setnum(settings_, "synth.sample-rate", SampleRate);
    fluid_->fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_->fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    fluid_->fluid_settings_setint(settings_, "synth.polyphony", EffectsSwitch::Polyphony);
    synth_ = fluid_->new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        diagnostics_.note(QStringLiteral("the synthesizer could not be created"));
        return false;
    }
    for (const QString &path : soundFonts_) {
        if (!QFileInfo(path).isFile())
            continue;
        const int id = fluid_->fluid_synth_sfload(synth_, QFile::encodeName(path).constData(), 1);
        if (id != FLUID_FAILED) {
            soundFontId_ = id;
            soundFontPath_ = QFileInfo(path).canonicalFilePath();
            break;
        }
        diagnostics_.note(QStringLiteral("cannot load SoundFont %1").arg(path));
    }
    if (soundFontId_ < 0) {
        diagnostics_.note(QStringLiteral("no SoundFont"));
        return false;
    }
    for (const auto &[bank, program] : PresetLoader::ResetPresets)
        fluid_->fluid_synth_pin_preset(synth_, soundFontId_, bank, program);
    return true;
}

} // namespace midiout
