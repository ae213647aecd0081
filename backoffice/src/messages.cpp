// Compiled to GBK: keep every Chinese text of the service here.
#include "backoffice/messages.h"

namespace backoffice::messages {

const char kNoCondition[] = "查询条件不能为空，请至少指定一项查询条件！";
const char kTooManyRows[] = "符合条件的记录超过%lld条，请缩小查询范围后重新查询！";
const char kBadPhone[] = "手机号码格式不正确！";
const char kBadRange[] = "开始时间不能大于结束时间！";
const char kBadRequest[] = "请求数据格式错误，无法处理！";
const char kDatabase[] = "数据库查询失败，请稍后重试！";
const char kInternal[] = "服务内部错误，请稍后重试！";

}  // namespace backoffice::messages
