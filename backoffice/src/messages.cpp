// Compiled to GBK: keep every Chinese text of the service here.
#include "backoffice/messages.h"

namespace backoffice::messages {

const char kNoCondition[] = "查询条件不能为空，请至少指定一项查询条件！";
const char kTooManyRows[] = "符合条件的记录超过%lld条，请缩小查询范围后重新查询！";
const char kBadPhone[] = "手机号码格式不正确！";
const char kBadExport[] = "导出记录不完整：缺少列表、格式或行数！";
const char kBadRange[] = "开始时间不能大于结束时间！";
const char kBadRequest[] = "请求数据格式错误，无法处理！";
const char kDatabase[] = "数据库查询失败，请稍后重试！";
const char kInternal[] = "服务内部错误，请稍后重试！";
const char kNoSession[] = "登录已失效或已退出，请重新登录！";
const char kNoRight[] = "当前操作员没有执行此查询的权限！";
const char kSignInFailed[] = "登录名或密码错误！";
const char kOperatorLocked[] = "操作员已被锁定，请稍后再试或联系管理员！";
const char kDirectoryUnavailable[] = "目录服务暂时无法连接，无法验证登录，请稍后再试或联系管理员！";
const char kOperatorInactive[] = "操作员已停用或不在有效期内，请联系管理员！";
const char kAuditUnavailable[] = "审计记录无法写入，查询暂停，请联系系统管理员！";

}  // namespace backoffice::messages
