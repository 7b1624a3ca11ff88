#include "measure/runstatus.h"

#include "config/numberformat.h"
#include "measure/generatorcontrol.h"

namespace sonvera {

namespace {

struct StatusWords {
    const char* names[4];  // by Measurement
    const char* running;
    const char* generatorOn;
    const char* stopped;
    const char* stoppedAt;
    const char* generatorOff;
    const char* finished;
    const char* points;
    const char* triggerReached;
    const char* aboveHalfRate;
    const char* deviceError;
    const char* reasons[8];  // by Refusal
    const char* notTaken;
    const char* locked;
    const char* recordedOf;  // between the recorded and the total seconds
    const char* recordedEnd;
};

const StatusWords kGerman{
    {"Spektrum", "Wobbeln", "Oszilloskop", "Generator"},
    " läuft",
    "Generator läuft: ",
    " gestoppt",
    " gestoppt bei ",
    "Generator aus",
    " fertig",
    " Punkte",
    ": Triggerpegel erreicht",
    " > Samplefrequenz/2, beendet",
    ": Gerätefehler (",
    {"", "kein Eingabegerät vorhanden", "läuft bereits (STOP beendet)",
     "gesperrt, solange eine Messung läuft (erst STOP)",
     "gesperrt, solange der Generator spielt (erst Stop im Generator)",
     "gesperrt, solange das Wobbeln spielt (erst STOP)", "keine Frequenz eingestellt", ""},
    " nicht übernommen (",
    "Gesperrt, solange eine Messung läuft",
    " s von ",
    " s aufgenommen",
};

const StatusWords kEnglish{
    {"Spectrum", "Sweep", "Oscilloscope", "Generator"},
    " running",
    "Generator on: ",
    " stopped",
    " stopped at ",
    "Generator off",
    " finished",
    " points",
    ": trigger level reached",
    " > sample rate/2, ended",
    ": device error (",
    {"", "no input device", "already running (STOP ends it)", "locked while a measurement runs (press STOP first)",
     "locked while the generator plays (press Stop in the generator first)",
     "locked while the sweep plays (press STOP first)", "no frequency set", ""},
    " not taken (",
    "Locked while a measurement runs",
    " s of ",
    " s recorded",
};

const StatusWords& WordsFor(char language)
{
    return language == 'D' ? kGerman : kEnglish;
}

std::string StepText(const RunReport& r)
{
    return std::to_string(r.freqHz) + " Hz (" + std::to_string(r.step) + "/" + std::to_string(r.steps) + ")";
}

}  // namespace

std::string RunStatusText(const RunReport& r, char language)
{
    const StatusWords& w = WordsFor(language);
    const std::string name = w.names[static_cast<int>(r.what)];
    const bool generator = r.what == Measurement::Generator;
    switch (r.event) {
    case RunEvent::Running:
        return generator ? w.generatorOn + r.detail : name + w.running;
    case RunEvent::Step:
        return name + ": " + StepText(r);
    case RunEvent::Stopped:
        if (generator) {
            return w.generatorOff;
        }
        return r.steps > 0 ? name + w.stoppedAt + StepText(r) : name + w.stopped;
    case RunEvent::Finished:
        return r.steps > 0 ? name + w.finished + ": " + std::to_string(r.steps) + w.points : name + w.finished;
    case RunEvent::TriggerReached:
        return name + w.triggerReached;
    case RunEvent::AboveHalfRate:
        return name + ": " + std::to_string(r.freqHz) + " Hz" + w.aboveHalfRate;
    case RunEvent::DeviceError:
        return name + w.deviceError + r.detail + ")";
    case RunEvent::Recording:
        return name + ": " + FormatFixed(r.recordedSeconds, 1) + w.recordedOf + FormatFixed(r.totalSeconds, 1) +
               w.recordedEnd;
    case RunEvent::Refused:
        break;
    }
    const std::string control = r.control.empty() ? name : r.control;
    if (r.refusal == Refusal::InvalidFrequency) {
        return control + ": \"" + r.detail + "\"" + w.notTaken + std::to_string(kGeneratorMinHz) + ".." +
               std::to_string(r.freqHz > kGeneratorMaxHz ? r.freqHz : kGeneratorMaxHz) + " Hz)";
    }
    return control + ": " + w.reasons[static_cast<int>(r.refusal)];
}

std::string LockedDuringMeasurementText(char language)
{
    return WordsFor(language).locked;
}

}  // namespace sonvera
