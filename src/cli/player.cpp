#include "cli/player.h"

#include "playback/WaveOut.h"
#include "state/global.h"

#include <chrono>

namespace cli {

PlayedSound NoiseSound(Signal signal)
{
    PlayedSound sound;
    sound.kind = signal == Signal::White ? PlayedSound::Kind::WhiteNoise : PlayedSound::Kind::PinkNoise;
    return sound;
}

PlayedSound ToneSound(double hz, double dbfs)
{
    return {PlayedSound::Kind::TestTone, hz, dbfs};
}

bool Player::Start(int deviceId, const PlayedSound& sound, std::string* error)
{
    const bool tone = sound.kind == PlayedSound::Kind::TestTone;
    if (tone) {
        ToneFreq = static_cast<float>(sound.toneHz);
        ToneAmplitude = ToneAmplitudeFor(sound.toneDbfs);
    }
    GenTestTone = tone;
    GenSine = tone;
    GenNoise = sound.kind == PlayedSound::Kind::WhiteNoise;
    GenPink = sound.kind == PlayedSound::Kind::PinkNoise;
    GenPlaying = true;
    if (!OpenWaveOut(deviceId, error)) {
        GenPlaying = false;
        GenTestTone = false;
        return false;
    }
    SetOutVolume(65535); // the sound as generated, whatever the stream was left at
    refilling_ = true;
    refill_ = std::thread([this] { RefillLoop(); });
    return true;
}

void Player::Stop()
{
    if (refill_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            refilling_ = false;
        }
        wake_.notify_all();
        refill_.join();
    }
    CloseWaveOut();
    GenPlaying = false;
    GenTestTone = false;
}

void Player::RefillLoop()
{
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    std::unique_lock<std::mutex> guard(lock_);
    while (refilling_) {
        guard.unlock();
        RefillWaveOut();
        guard.lock();
        next += std::chrono::milliseconds(20);
        wake_.wait_until(guard, next, [this] { return !refilling_; });
    }
}

} // namespace cli
