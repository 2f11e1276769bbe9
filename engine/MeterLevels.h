// The levels the LED meters show, and where the meter thread finds them. A recording and the
// level monitor each deposit their analyser's readouts of every block in a CMeterLevels; the
// main window registers the one the meters read (SetMeterLevelSource), and the LED meter thread
// reads it every tick through GetMeterLevels. So the meters show the input before Record
// exactly as they show it while recording.
//
// Deposit: the thread that handles the blocks (the recording thread, the monitor's thread), with
// no other lock held; Read: the LED meter thread; Clear: either, or the owner once the recording
// thread has ended. Each takes the levels' own mutex only (see the lock map in
// RecordingControl.h). Nothing here allocates.
#pragma once

#include <cstdint>
#include <mutex>

// A readout (peak magnitude or root of the power, 1.0 full scale) in whole dB for the meters;
// NaN counts as the readouts' floor.
int32_t MeterDecibels(float magnitude);

class CMeterLevels {
public:
    // The readouts of one block: peak magnitude and power (mean square) per channel, 1.0 full
    // scale, and the clipped samples per channel. Until the meters have read the last deposit,
    // a new one keeps the louder of the two, so a short loud block is not missed between ticks.
    void Deposit(const float peak[2], const float power[2], const int32_t clips[2]);
    // Channel 0 left, any other value right: power and peak in dB, the clip count. Marks the
    // channel read.
    void Read(int channel, int* power, int* peak, int* clips);
    // Back to -100 dB and no clips, which light nothing.
    void Clear();

private:
    std::mutex m_mutex;
    int32_t m_nPeak[2] = {-100, -100};
    int32_t m_nPower[2] = {-100, -100};
    int32_t m_nClips[2] = {0, 0};
    int m_bTaken[2] = {0, 0};
};

// What the LED meters can read from: a recording or the level monitor.
class IMeterLevelSource {
public:
    // LED meter thread: channel 0 left, any other value right.
    virtual void GetMeterLevels(int channel, int* power, int* peak, int* clips) = 0;

protected:
    ~IMeterLevelSource() = default;
};

// The source the LED meters read from, registered by the main window (null: none). Any thread
// not holding a lock a source takes while read: it waits for a read in progress, so once it
// returns the previous source is no longer read.
void SetMeterLevelSource(IMeterLevelSource* source);
// Clears the registration when it is this source (a source's destructor calls it first).
void ForgetMeterLevelSource(IMeterLevelSource* source);
// LED meter thread: the levels of the registered source; -100 dB and 0 clips when none is.
void GetMeterLevels(int channel, int* power, int* peak, int* clips);
