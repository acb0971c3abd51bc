#pragma once

#include "BackgroundService.h"

#include <QString>

#include <optional>

class ConnectorController;

// What the settings page and its uninstall sheet show, as a pure function of the controller, the isolated
// validation mode and the page's own flags.
struct SettingsModel {
    bool systemCardsEnabled = true; // "启动", the update, "Orvane" and "卸载": off in isolated validation
    bool statusItemAtLogin = false; // the switch "登录时显示状态栏图标"
    bool showsLoginItemsButton = false; // "打开系统设置的登录项"
    bool autoInstall = true;            // the switch "自动安装连接器更新"
    bool connectEnabled = false;        // "连接 Orvane" needs a running bridge
    std::optional<QString> notice;
    bool operator==(const SettingsModel&) const = default;

    static SettingsModel from(const ConnectorController& controller, bool isolated, bool autoInstall);

    static inline const QString hooksCard = QStringLiteral("外面的会话");
    static inline const QString strellCard = QStringLiteral("Strell 单岗位（试验）");
    static inline const QString startCard = QStringLiteral("启动");
    static inline const QString statusItemSwitch = QStringLiteral("登录时显示状态栏图标");
    static inline const QString statusItemNote =
        QStringLiteral("关掉也不影响桥接：它由后台运行负责，登录后照常自己起来。");
    static inline const QString loginItemsButton = QStringLiteral("打开系统设置的登录项");
    static inline const QString updateCard = QStringLiteral("Orvane 连接器更新（含桥接）");
    static inline const QString autoInstallSwitch = QStringLiteral("自动安装连接器更新");
    static inline const QString autoInstallNote =
        QStringLiteral("下载、核对都过了，又没有在跑的 Agent "
                       "时，自己换上连接器新版本。执行工具（Codex、Claude Code、EvoX）不会自动"
                       "更新，在概览页或状态栏菜单里点「更新」；EvoX 跟着 EvoX 桌面 App 更新。");
    static inline const QString senvikCard = QStringLiteral("Orvane");
    static inline const QString senvikNote =
        QStringLiteral("让装在这台 Mac 上的 Orvane 自己来配对，不用连接码。");
    static inline const QString connectButton = QStringLiteral("连接 Orvane");
    static inline const QString uninstallCard = QStringLiteral("卸载");
    static inline const QString uninstallNote =
        QStringLiteral("停掉后台的桥接、取消登录时运行，再把连接器移到废纸篓。");
    static inline const QString uninstallButton = QStringLiteral("卸载…");
};

// The sheet that confirms the uninstall.
struct UninstallSheetModel {
    bool deletesData = false;
    bool uninstallEnabled = true; // not while an uninstall runs
    bool operator==(const UninstallSheetModel&) const = default;

    static UninstallSheetModel from(const ConnectorController& controller, bool deletesData);

    static inline const QString title = QStringLiteral("卸载 Orvane 连接器？");
    static inline const QString message = QStringLiteral(
        "会停掉后台的桥接、取消登录时运行，再把「Orvane 连接器」移到废纸篓。Orvane 的「我的 Agent」之后会"
        "显示未连接。");
    static inline const QString deleteDataSwitch = QStringLiteral("同时删除桥接数据（对话、配对、日志）");
    static inline const QString cancel = QStringLiteral("取消");
    static inline const QString confirm = QStringLiteral("卸载");
};
