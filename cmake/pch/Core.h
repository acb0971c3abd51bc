// Third-party headers that nearly every source here includes, compiled once per build. Each is guarded, so
// a target without one of these libraries on its include path still compiles this header as text.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#if __has_include(<QObject>)
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#endif
#if __has_include(<QPainter>)
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#endif
#if __has_include(<QWidget>)
#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#endif
#if __has_include(<QNetworkReply>)
#include <QNetworkAccessManager>
#include <QNetworkReply>
#endif
#if __has_include(<QCoroTask>)
#include <QCoroTask>
#endif
#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#endif
