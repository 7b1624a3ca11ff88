#include "measure/tdummy.h"

#include <QCoreApplication>

#include "engine/soundengine.h"
#include "measure/appmessages.h"

namespace sonvera {

namespace {

/// MM_WIM_DATA with the reference of the buffer header it reports.
class WaveInDataEvent : public AppMessageEvent {
public:
    WaveInDataEvent(const void* header, std::uint64_t session)
        : AppMessageEvent(MM_WIM_DATA), header_(header), session_(session)
    {
    }
    const void* Header() const { return header_; }
    std::uint64_t Session() const { return session_; }

private:
    const void* header_;
    std::uint64_t session_;
};

}  // namespace

Tdummy::Tdummy(SoundEngine& engine, QObject* parent) : QObject(parent), engine_(engine)
{
    setObjectName(QStringLiteral("Tdummy"));
    engine_.SetMessagePort(this);
}

Tdummy::~Tdummy()
{
    engine_.SetMessagePort(nullptr);
}

void Tdummy::PostWaveInData(const void* header, std::uint64_t session)
{
    pending_.fetch_add(1);
    QCoreApplication::postEvent(this, new WaveInDataEvent(header, session));
}

void Tdummy::DrainMessages(int maxMessages)
{
    for (int i = 0; i < maxMessages && pending_.load() > 0; ++i) {
        QCoreApplication::sendPostedEvents(this, AppEventType(MM_WIM_DATA));
    }
}

bool Tdummy::event(QEvent* event)
{
    if (AppMessageOf(event) == MM_WIM_DATA) {
        // Only a completion posted through PostWaveInData carries a header; a bare
        // MM_WIM_DATA from elsewhere has nothing to hand on and is ignored.
        if (const auto* data = dynamic_cast<const WaveInDataEvent*>(event)) {
            pending_.fetch_sub(1);
            engine_.OnWaveInData(data->Header(), data->Session());
        }
        return true;
    }
    return QObject::event(event);
}

}  // namespace sonvera
