#include "app/SystemNetwork.h"

#include <QNetworkInformation>

namespace pellamark {

bool systemSaysOffline() {
    static const bool loaded =
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    const QNetworkInformation* information = loaded ? QNetworkInformation::instance() : nullptr;
    return information != nullptr &&
           information->reachability() == QNetworkInformation::Reachability::Disconnected;
}

} // namespace pellamark
