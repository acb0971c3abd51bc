#include "StandinBridge.h"

#include "JsonDepth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <unistd.h>

using nlohmann::json;

namespace {

json success(json result) {
    return json{{"ok", true}, {"result", std::move(result)}};
}

const json* member(const json& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

json* member(json& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> text(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return value->get<std::string>();
}

// A JSON number with an integral value, as the connector reads integers.
std::optional<long long> integer(const json* value) {
    if (!value)
        return std::nullopt;
    if (value->is_number_integer())
        return value->get<long long>();
    if (value->is_number_float()) {
        const double number = value->get<double>();
        if (std::isfinite(number) && std::floor(number) == number && std::fabs(number) < 9.0e15)
            return static_cast<long long>(number);
    }
    return std::nullopt;
}

std::optional<long long> integer(const json& object, const char* key) {
    return integer(member(object, key));
}

std::optional<bool> boolean(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_boolean())
        return std::nullopt;
    return value->get<bool>();
}

std::string engineTitle(const std::string& id) {
    if (id == "claude_code")
        return "Claude Code";
    if (id == "codex")
        return "Codex";
    if (id == "evox")
        return "EvoX";
    return id;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string result;
    for (const std::string& part : parts) {
        if (!result.empty())
            result += separator;
        result += part;
    }
    return result;
}

// Dotted versions compared part by part, numbers as numbers ("0.10.0" is newer than "0.9.9").
bool newer(const std::string& candidate, const std::string& installed) {
    auto split = [](const std::string& version) {
        std::vector<std::string> parts;
        std::string part;
        for (const char c : version) {
            if (c == '.' || c == '-' || c == '+') {
                parts.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
        parts.push_back(part);
        return parts;
    };
    const auto numeric = [](const std::string& part) {
        return !part.empty() && part.size() < 18 && std::all_of(part.begin(), part.end(), ::isdigit);
    };
    const std::vector<std::string> a = split(candidate);
    const std::vector<std::string> b = split(installed);
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string x = i < a.size() ? a[i] : "0";
        const std::string y = i < b.size() ? b[i] : "0";
        if (numeric(x) && numeric(y)) {
            if (std::stoll(x) != std::stoll(y))
                return std::stoll(x) > std::stoll(y);
        } else if (x != y) {
            return x > y;
        }
    }
    return false;
}

std::string operationWord(const std::string& command) {
    if (command == "cli-update")
        return "update";
    if (command == "cli-refresh")
        return "refresh";
    return "check";
}

std::string operationText(const std::string& word) {
    if (word == "update")
        return "更新";
    if (word == "refresh")
        return "刷新模型清单";
    return "检查更新";
}

// Only loopback gateways are accepted: http(s)://127.x.x.x, localhost or [::1], with an optional port and
// path.
bool loopbackOrigin(const std::string& origin) {
    std::string rest;
    for (const char* scheme : {"http://", "https://"}) {
        if (origin.rfind(scheme, 0) == 0)
            rest = origin.substr(std::string(scheme).size());
    }
    if (rest.empty())
        return false;
    std::string host;
    std::size_t end = 0;
    if (rest.front() == '[') {
        end = rest.find(']');
        if (end == std::string::npos)
            return false;
        host = rest.substr(0, ++end);
    } else {
        end = rest.find_first_of(":/?#");
        if (end == std::string::npos)
            end = rest.size();
        host = rest.substr(0, end);
    }
    std::string tail = rest.substr(end);
    if (!tail.empty() && tail.front() == ':') {
        std::size_t digits = 1;
        while (digits < tail.size() && std::isdigit(static_cast<unsigned char>(tail[digits])))
            ++digits;
        if (digits == 1 || digits > 6)
            return false;
        tail = tail.substr(digits);
    }
    if (!tail.empty() && tail.front() != '/')
        return false;
    if (host == "localhost" || host == "[::1]")
        return true;
    if (host.rfind("127.", 0) != 0)
        return false;
    int dots = 0;
    for (const char c : host) {
        if (c == '.')
            ++dots;
        else if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return dots == 3;
}

bool validModel(const std::string& model) {
    const std::size_t slash = model.find('/');
    return slash != std::string::npos && slash > 0 && slash + 1 < model.size() &&
           model.find_first_of(" \t\r\n") == std::string::npos;
}

std::string randomTicket() {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::random_device device;
    std::string ticket = "tk_";
    for (int i = 0; i < 32; ++i)
        ticket += alphabet[device() % 64];
    return ticket;
}

std::string hostName() {
    std::array<char, 256> buffer{};
    if (::gethostname(buffer.data(), buffer.size() - 1) != 0 || buffer[0] == 0)
        return "this-mac";
    return buffer.data();
}

} // namespace

StandinBridge::StandinBridge(json scenario, bool managed, std::string startedAt, Persist persist)
    : scenario_(std::move(scenario)), managed_(managed), startedAt_(std::move(startedAt)),
      persist_(std::move(persist)) {
    if (!scenario_.is_object())
        scenario_ = json::object();
    // Work that was running when the last process ended died with it, as it would in the real bridge.
    if (scenario_.contains("pendingCli")) {
        scenario_.erase("pendingCli");
        if (json* tools = member(state(), "cliTools"); tools && tools->is_object()) {
            (*tools)["busy"] = false;
            tools->erase("operation");
            (*tools)["message"] = "上次的执行工具任务随桥接重启中断了";
        }
        save();
    }
}

json& StandinBridge::state() {
    if (!scenario_.contains("status"))
        scenario_["status"] = json::object();
    return scenario_["status"];
}

const json& StandinBridge::state() const {
    static const json empty = json::object();
    const json* status = member(scenario_, "status");
    return status ? *status : empty;
}

void StandinBridge::save() {
    if (persist_)
        persist_(scenario_);
}

void StandinBridge::replaceScenario(json scenario) {
    scenario_ = scenario.is_object() ? std::move(scenario) : json::object();
}

std::string StandinBridge::isoNow(std::chrono::system_clock::duration offset) {
    const auto now = std::chrono::system_clock::now() + offset;
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char buffer[40];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(millis % 1000));
    return std::string(buffer, length) + fraction;
}

std::chrono::milliseconds StandinBridge::delayFor(const std::string& command) const {
    // A hung bridge accepts and reads, then keeps every reply for as long as a delay may last.
    if (boolean(scenario_, "hang").value_or(false))
        return std::chrono::milliseconds(600'000);
    const json* knob = member(scenario_, "replyDelayMs");
    std::optional<long long> value = integer(knob);
    if (knob && knob->is_object()) {
        value = integer(*knob, command.c_str());
        if (!value)
            value = integer(*knob, "*");
    }
    return std::chrono::milliseconds(std::clamp<long long>(value.value_or(0), 0, 600'000));
}

StandinBridge::Answer StandinBridge::handleLine(const std::string& line) {
    if (boolean(scenario_, "garbage").value_or(false))
        return {json(), delayFor("*"), std::string("\x01<html>not an answer\xff\n")};
    json request;
    try {
        if (!JsonDepth::within(line))
            return {failure("请求不是有效的 JSON"), delayFor("*"), std::nullopt};
        request = json::parse(line);
    } catch (const json::exception&) {
        return {failure("请求不是有效的 JSON"), delayFor("*"), std::nullopt};
    }
    if (!request.is_object())
        return {failure("请求必须是一个 JSON 对象"), delayFor("*"), std::nullopt};
    const std::optional<std::string> command = text(request, "command");
    if (!command || command->empty())
        return {failure("请求里没有 command"), delayFor("*"), std::nullopt};
    json reply;
    try {
        reply = answer(*command, request);
    } catch (const std::exception& error) {
        // A scenario edited into an odd shape must not take the stand-in down.
        reply = failure(std::string("桥接内部出错：") + error.what());
    }
    return {std::move(reply), delayFor(*command), std::nullopt};
}

json StandinBridge::answer(const std::string& command, const json& request) {
    // Knobs that make the bridge refuse: a JSON null as the error text leaves "error" out of the reply.
    const auto refused = [&](const char* knob, const std::string& fallback) {
        json reply{{"ok", false}};
        const json* custom = member(scenario_, knob);
        if (!custom)
            reply["error"] = fallback;
        else if (!custom->is_null())
            reply["error"] = custom->is_string() ? custom->get<std::string>() : fallback;
        return reply;
    };
    if (boolean(scenario_, "failAll").value_or(false))
        return refused("failError", "桥接暂时处理不了任何命令");
    if (const json* refuse = member(scenario_, "refuse"); refuse && refuse->is_array()) {
        if (std::find(refuse->begin(), refuse->end(), json(command)) != refuse->end())
            return refused("refuseError", "桥接这会儿不接受「" + command + "」");
    }
    return dispatch(command, request);
}

json StandinBridge::dispatch(const std::string& command, const json& request) {
    if (command == "status")
        return success(status());
    if (command == "pairings") {
        const json* pairings = member(scenario_, "pairings");
        return success(pairings ? *pairings : json::array());
    }
    if (command == "cli-check" || command == "cli-refresh" || command == "cli-update")
        return startCli(command, request);
    if (command == "revoke")
        return revoke(request);
    if (command == "ticket")
        return ticket();
    if (command == "hooks-install" || command == "hooks-uninstall")
        return hooks(command == "hooks-install");
    if (command == "strell-check" || command == "strell-configure")
        return strell(command, request);
    return failure("桥接不认识这条命令：" + command);
}

bool StandinBridge::cliBusy() const {
    if (work_)
        return true;
    const json* tools = member(state(), "cliTools");
    return tools && boolean(*tools, "busy").value_or(false);
}

bool StandinBridge::reportedEditable() const {
    const json* routing = member(state(), "strell");
    return managed_ && routing && boolean(*routing, "editable").value_or(true);
}

bool StandinBridge::reportedIdle() const {
    const json* routing = member(state(), "strell");
    if (!routing || !boolean(*routing, "idle").value_or(true))
        return false;
    if (integer(state(), "open").value_or(0) != 0)
        return false;
    if (work_)
        return work_->command != "cli-update";
    const json* tools = member(state(), "cliTools");
    return !(tools && boolean(*tools, "busy").value_or(false) && text(*tools, "operation") == "update");
}

json StandinBridge::status() const {
    const json& stored = state();
    if (!stored.is_object())
        return stored; // a scenario may make the result deliberately unusable
    json result = stored;
    result["startedAt"] = startedAt_;
    result["managed"] = managed_;
    result["pid"] = static_cast<long long>(::getpid());
    if (json* routing = member(result, "strell"); routing && routing->is_object()) {
        // Derived like the real bridge derives them; a member of another type is passed through untouched.
        const json* editable = member(*routing, "editable");
        if (!editable || editable->is_boolean())
            (*routing)["editable"] = reportedEditable();
        const json* idle = member(*routing, "idle");
        if (!idle || idle->is_boolean())
            (*routing)["idle"] = reportedIdle();
    }
    return result;
}

json StandinBridge::startCli(const std::string& command, const json& request) {
    json* tools = member(state(), "cliTools");
    if (!tools || !tools->is_object())
        return failure("这个桥接不支持执行工具命令");
    if (cliBusy()) {
        const std::string word =
            work_ ? operationWord(work_->command) : text(*tools, "operation").value_or("check");
        return failure("执行工具正忙（正在" + operationText(word) + "），等这一轮做完再试");
    }
    std::string id;
    std::string progress = command == "cli-refresh" ? "正在刷新模型清单…" : "正在检查执行工具更新…";
    if (command == "cli-update") {
        id = text(request, "id").value_or("");
        if (id.empty())
            return failure("要更新哪个执行工具？请求里没有 id");
        const json* list = member(*tools, "tools");
        const json* tool = nullptr;
        if (list && list->is_array()) {
            for (const json& entry : *list) {
                if (text(entry, "engine") == id) {
                    tool = &entry;
                    break;
                }
            }
        }
        if (!tool)
            return failure("没有这个执行工具：" + id);
        if (!boolean(*tool, "canUpdate").value_or(false))
            return failure(engineTitle(id) + " 不是用能自动更新的方式装的，请手动更新");
        const std::optional<std::string> target = text(*tool, "latestVersion");
        progress = "正在更新 " + engineTitle(id) + (target ? " 到 " + *target : "") + "…";
    }
    double seconds = 3.0;
    if (const json* knob = member(scenario_, "busySeconds"); knob && knob->is_number())
        seconds = std::clamp(knob->get<double>(), 0.0, 3600.0);
    work_ = CliWork{command, id,
                    Clock::now() +
                        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))};
    const std::string word = operationWord(command);
    (*tools)["busy"] = true;
    (*tools)["operation"] = word;
    (*tools)["message"] = progress;
    scenario_["pendingCli"] = json{{"command", command}, {"id", id}, {"since", isoNow()}};
    save();
    return success(json{{"accepted", true}, {"operation", word}});
}

bool StandinBridge::tick(Clock::time_point now) {
    if (!work_ || now < work_->until)
        return false;
    const CliWork work = *work_;
    work_.reset();
    try {
        finishCli(work);
    } catch (const std::exception& error) {
        // A scenario edited into an odd shape meanwhile: report it, keep serving.
        std::fprintf(stderr, "执行工具任务收尾出错：%s\n", error.what());
    }
    return true;
}

std::optional<StandinBridge::Clock::time_point> StandinBridge::nextDeadline() const {
    if (!work_)
        return std::nullopt;
    return work_->until;
}

void StandinBridge::finishCli(const CliWork& work) {
    scenario_.erase("pendingCli");
    json* tools = member(state(), "cliTools");
    if (!tools || !tools->is_object()) {
        save();
        return;
    }
    json noTools = json::array();
    json* list = member(*tools, "tools");
    json& entries = list && list->is_array() ? *list : noTools;
    const json* registry = member(scenario_, "registry");
    // The version source as the scenario describes it; a tool without an entry (or with null) is unreachable.
    const auto source = [&](const std::string& id) -> const json* {
        const json* entry = registry ? member(*registry, id.c_str()) : nullptr;
        return entry && text(*entry, "latestVersion") ? entry : nullptr;
    };
    const std::string now = isoNow();
    std::string closing;

    if (work.command == "cli-check") {
        int updates = 0;
        std::vector<std::string> unreachable;
        for (json& tool : entries) {
            const std::optional<std::string> id = text(tool, "engine");
            if (!id)
                continue;
            const json* found = source(*id);
            if (!found) {
                tool["message"] = "没连上版本源，没查到最新版本";
                unreachable.push_back(engineTitle(*id));
                continue;
            }
            const std::string latest = *text(*found, "latestVersion");
            const std::optional<std::string> current = text(tool, "currentVersion");
            const bool available = current && newer(latest, *current);
            tool["latestVersion"] = latest;
            tool["checkedAt"] = now;
            tool["updateAvailable"] = available;
            tool["message"] = !current ? "还没装，最新版本是 " + latest
                                       : (available ? "有新版本 " + latest : std::string("已是最新版本"));
            updates += available ? 1 : 0;
        }
        if (!unreachable.empty())
            closing = joined(unreachable, "、") + " 没查到最新版本";
        else if (updates > 0)
            closing = "检查完了：" + std::to_string(updates) + " 个执行工具有新版本";
        else
            closing = "检查完了：都是最新版本";
    } else if (work.command == "cli-update") {
        const std::string title = engineTitle(work.id);
        json* tool = nullptr;
        for (json& entry : entries) {
            if (text(entry, "engine") == work.id) {
                tool = &entry;
                break;
            }
        }
        const json* found = source(work.id);
        if (!tool) {
            closing = "没找到要更新的执行工具 " + work.id;
        } else if (!found) {
            (*tool)["message"] = "更新没成功：连不上版本源";
            closing = title + " 更新没成功：连不上版本源";
        } else {
            const std::string latest = *text(*found, "latestVersion");
            const std::optional<std::string> current = text(*tool, "currentVersion");
            const bool upToDate = current && !newer(latest, *current);
            (*tool)["updateAvailable"] = false;
            (*tool)["latestVersion"] = upToDate ? *current : latest;
            (*tool)["checkedAt"] = now;
            if (upToDate) {
                (*tool)["message"] = "已是最新版本";
                closing = title + " 已经是最新版本 " + *current;
            } else {
                (*tool)["currentVersion"] = latest;
                (*tool)["message"] = "已更新到 " + latest;
                closing = title + " 已更新到 " + latest;
                if (json* engines = member(state(), "engines"); engines && engines->is_array()) {
                    for (json& engine : *engines) {
                        if (text(engine, "engine") == work.id && engine.is_object()) {
                            engine["version"] = latest;
                            engine["installed"] = true;
                        }
                    }
                }
            }
        }
    } else {
        std::vector<std::string> refreshed;
        std::vector<std::string> failed;
        for (json& tool : entries) {
            const std::optional<std::string> id = text(tool, "engine");
            if (!id || !text(tool, "currentVersion"))
                continue; // only installed tools have model lists
            const json* found = source(*id);
            const std::optional<long long> models = found ? integer(*found, "models") : std::nullopt;
            if (!models) {
                failed.push_back(engineTitle(*id));
                continue;
            }
            tool["models"] = *models;
            refreshed.push_back(engineTitle(*id) + " " + std::to_string(*models) + " 个模型");
        }
        if (refreshed.empty() && failed.empty())
            closing = "没有装好的执行工具，不用刷新模型清单";
        else if (failed.empty())
            closing = "模型清单刷新好了：" + joined(refreshed, "、");
        else if (refreshed.empty())
            closing = joined(failed, "、") + " 的模型清单没刷新成（连不上）";
        else
            closing = "模型清单刷新好了：" + joined(refreshed, "、") + "；" + joined(failed, "、") +
                      " 没刷新成（连不上）";
    }
    (*tools)["busy"] = false;
    tools->erase("operation");
    (*tools)["message"] = closing;
    save();
}

json StandinBridge::revoke(const json& request) {
    const std::string id = text(request, "id").value_or("");
    if (id.empty())
        return failure("要断开哪个配对？请求里没有 id");
    json* pairings = member(scenario_, "pairings");
    if (pairings && pairings->is_array()) {
        for (auto it = pairings->begin(); it != pairings->end(); ++it) {
            if (text(*it, "id") == id) {
                pairings->erase(it);
                save();
                return success(json{{"revoked", id}});
            }
        }
    }
    return failure("没有这个配对：" + id);
}

json StandinBridge::ticket() const {
    const std::optional<long long> port = integer(state(), "port");
    if (!port)
        return failure("桥接还没有监听端口，给不出连接票");
    return success(
        json{{"ticket", randomTicket()}, {"port", *port}, {"expiresAt", isoNow(std::chrono::minutes(2))}});
}

json StandinBridge::hooks(bool install) {
    json* report = member(state(), "sessionHooks");
    if (!report || !member(*report, "claude") || !member(*report, "codex"))
        return failure("这个桥接还不支持会话钩子");
    struct Target {
        const char* key;
        const char* name;
        json events;
    };
    const std::array<Target, 2> targets{
        Target{"claude", "Claude Code",
               json{"SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse", "Stop"}},
        Target{"codex", "Codex", json{"session_start", "user_prompt_submit", "turn_complete"}}};
    std::vector<std::string> problems;
    for (const Target& target : targets) {
        json* entry = member(*report, target.key);
        if (!entry || !entry->is_object()) {
            problems.push_back(std::string(target.name) + "：配置读不出来");
            continue;
        }
        if (install) {
            if (const std::optional<std::string> problem = text(*entry, "problem")) {
                problems.push_back(std::string(target.name) + "：" + *problem);
                continue;
            }
            (*entry)["installed"] = true;
            (*entry)["current"] = true;
            (*entry)["events"] = target.events;
        } else {
            (*entry)["installed"] = false;
            (*entry)["current"] = false;
            (*entry)["events"] = json::array();
        }
    }
    if (install && problems.size() == targets.size())
        return failure("钩子一个也没加上：" + joined(problems, "；"));
    save();
    return success(*report);
}

json StandinBridge::strell(const std::string& command, const json& request) {
    json* routing = member(state(), "strell");
    if (!routing || !routing->is_object())
        return failure("这个桥接还不支持网关设置");
    const std::optional<long long> revision = integer(*routing, "revision");
    if (!revision)
        return failure("桥接的网关设置缺少版本号");
    const std::optional<long long> expected = integer(request, "expectedRevision");
    if (!expected)
        return failure("请求里缺少 expectedRevision");
    if (boolean(*routing, "busy").value_or(false))
        return failure("网关路线正忙，稍后再试");
    if (*expected != *revision)
        return failure("网关设置已在别处改过（现在是第 " + std::to_string(*revision) + " 版，这次基于第 " +
                       std::to_string(*expected) + " 版），请重新载入后再试");
    const json* pilot = member(request, "pilot");
    if (!pilot)
        return failure("请求里缺少 pilot");
    const bool check = command == "strell-check";
    json stored = nullptr;
    if (pilot->is_null()) {
        if (check)
            return failure("现在选的是原生直连，没有要检查的网关");
    } else if (pilot->is_object()) {
        const std::string role = text(*pilot, "rolePath").value_or("");
        const std::string origin = text(*pilot, "origin").value_or("");
        const std::string model = text(*pilot, "model").value_or("");
        if (role.empty())
            return failure("还没选要走 Strell 的岗位");
        bool known = false;
        if (const json* roles = member(*routing, "roles"); roles && roles->is_array()) {
            known = std::any_of(roles->begin(), roles->end(),
                                [&](const json& entry) { return text(entry, "path") == role; });
        }
        if (!known)
            return failure("公司仓库里没有这个岗位：" + role);
        if (!loopbackOrigin(origin))
            return failure("只接受本机回环地址的网关：" + origin);
        if (!validModel(model))
            return failure("固定模型要写成 provider/model：" + model);
        const json* gateway = member(scenario_, "gateway");
        if (gateway && !boolean(*gateway, "reachable").value_or(true))
            return failure("连不上网关 " + origin);
        if (const json* models = gateway ? member(*gateway, "models") : nullptr;
            models && models->is_array()) {
            if (std::find(models->begin(), models->end(), json(model)) == models->end())
                return failure("网关的模型目录里没有 " + model);
        }
        stored = json{{"rolePath", role}, {"origin", origin}, {"model", model}};
    } else {
        return failure("pilot 必须是对象或 null");
    }
    if (check)
        return success(
            json{{"origin", stored["origin"]}, {"model", stored["model"]}, {"modelCalled", false}});
    if (!reportedEditable())
        return failure("路线由启动参数或手动启动的桥接管理，这里不能保存");
    if (!reportedIdle())
        return failure("有 Agent 工作或执行工具更新没结束，完成后再保存");
    (*routing)["pilot"] = stored;
    (*routing)["revision"] = *revision + 1;
    routing->erase("problem"); // the new setting passed every check
    save();
    return success(json{{"revision", *revision + 1}, {"pilot", stored}});
}

json StandinBridge::failure(const std::string& text) {
    return json{{"ok", false}, {"error", text}};
}

json StandinBridge::defaultScenario(const std::string& home) {
    const std::string checked = isoNow(-std::chrono::hours(2));
    return json{
        {"busySeconds", 3},
        {"replyDelayMs", 0},
        {"failAll", false},
        {"refuse", json::array()},
        {"status",
         {{"port", 48123},
          {"bridgeVersion", "0.18.2"},
          {"open", 2},
          {"companyRepo", {{"root", home + "/Orvane/company"}, {"roles", 4}}},
          {"leases", {{"state", "on"}, {"holder", hostName()}}},
          {"engines", json::array({{{"engine", "claude_code"},
                                    {"installed", true},
                                    {"version", "1.0.38"},
                                    {"login", "logged_in"},
                                    {"binaryPath", home + "/.claude/local/claude"}},
                                   {{"engine", "codex"},
                                    {"installed", true},
                                    {"version", "0.29.0"},
                                    {"login", "logged_out"},
                                    {"binaryPath", "/usr/local/bin/codex"}},
                                   {{"engine", "evox"}, {"installed", false}}})},
          {"cliTools",
           {{"busy", false},
            {"message", "检查完了：1 个执行工具有新版本"},
            {"tools", json::array({{{"engine", "claude_code"},
                                    {"currentVersion", "1.0.38"},
                                    {"latestVersion", "1.0.38"},
                                    {"canUpdate", true},
                                    {"updateAvailable", false},
                                    {"models", 3},
                                    {"checkedAt", checked},
                                    {"message", "已是最新版本"}},
                                   {{"engine", "codex"},
                                    {"currentVersion", "0.29.0"},
                                    {"latestVersion", "0.30.0"},
                                    {"canUpdate", true},
                                    {"updateAvailable", true},
                                    {"models", 6},
                                    {"checkedAt", checked},
                                    {"message", "有新版本 0.30.0"}},
                                   {{"engine", "evox"},
                                    {"canUpdate", false},
                                    {"updateAvailable", false},
                                    {"message", "这台 Mac 上还没装 EvoX"}}})}}},
          {"strell",
           {{"revision", 3},
            {"editable", true},
            {"busy", false},
            {"idle", true},
            {"pilot", nullptr},
            {"roles", json::array({{{"path", "company/roles/backend"}, {"title", "后端工程师"}},
                                   {{"path", "company/roles/reviewer"}, {"title", "代码审查"}},
                                   {{"path", "company/roles/writer"}, {"title", "文档撰写"}}})}}},
          {"sessionHooks",
           {{"claude",
             {{"installed", true},
              {"current", true},
              {"path", home + "/.claude/settings.json"},
              {"events",
               json::array({"SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse", "Stop"})}}},
            {"codex",
             {{"installed", false},
              {"current", false},
              {"path", home + "/.codex/hooks.json"},
              {"events", json::array()}}}}}}},
        {"pairings", json::array({{{"id", "pr_7f3c2a91d4"},
                                   {"profileLabel", "林晓"},
                                   {"profileTail", "…8842"},
                                   {"clientName", "Orvane iPhone"},
                                   {"pairedAt", isoNow(-std::chrono::hours(24 * 9))},
                                   {"lastSeenAt", isoNow(-std::chrono::minutes(12))}}})},
        {"registry",
         {{"claude_code", {{"latestVersion", "1.0.41"}, {"models", 4}}},
          {"codex", {{"latestVersion", "0.30.0"}, {"models", 7}}},
          {"evox", {{"latestVersion", "2.3.1"}, {"models", 5}}}}},
        {"gateway",
         {{"reachable", true}, {"models", json::array({"fixture/validation-model", "openai/gpt-5-codex"})}}}};
}
