#include "platform/MessageBox.h"

#include "platform/Baton.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"

#include <QMessageBox>
#include <QString>

namespace platform {

void MessageBox(std::string_view text) {
    RequireMainThread();
    CheckStack();
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Zelim"),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok);
    BatonRelease waiting;
    box.exec();
}

} // namespace platform
