#include "app/App.h"

#include "platform/ClassRecord.h"
#include "platform/Runtime.h"

const platform::ClassRecord& App::ClassInfo() {
    static const platform::ClassRecord record{
        .name = "App",
        .base = &platform::Application::ClassInfo(),
        .eventTable = {{"Open",
                        [](platform::Object& app) { static_cast<App&>(app).Event_Open(); }}},
    };
    return record;
}

void RegisterAppClass() {
    platform::RegisterClass(App::ClassInfo());
}

std::shared_ptr<App> App::Instance() {
    return platform::RuntimeCheckCast<App>(platform::GetAppObject());
}

bool App::IsEventImplemented(std::string_view event) {
    return platform::RuntimeIsEventHandled(*this, "App", event, true);
}
