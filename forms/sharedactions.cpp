#include "forms/sharedactions.h"

#include <array>
#include <cstring>

namespace MBaseWindow {

namespace {

// List order is part of the window's layout: derived windows and the host
// may address actions by their index in the list.
constexpr std::array<SSharedAction, kSharedActionCount> kActions{{
    {"actQuery", 2, "查询"},
    {"actCommit", 22, "提交"},
    {"actClose", 9, "关闭"},
    {"actPrev", 20, "上一条"},
    {"actNext", 27, "下一条"},
    {"actAdd", 33, "增加"},
    {"actModify", 30, "修改"},
    {"actDelete", 18, "删除"},
    {"actClear", 15, "清除"},
    {"actPrint", 4, "打印"},
    {"actHelp", 1, "帮助"},
    {"actOK", 17, "确定"},
    {"actCancel", 16, "取消"},
    {"actSeleNub", 31, "选号"},
    {"actSeleSim", 32, "选卡"},
    {"actReport", 23, "报表"},
    {"actSaveAs", 13, "另存为"},
    {"actPay", 11, "缴费"},
    {"actUnpay", 3, "返销"},
    {"actAdjust", 6, "调账"},
    {"actDrawBack", 25, "退费"},
    {"actInvoice", 7, "发票"},
    {"actDiscount", 10, "优惠"},
    {"actSetPrintCol", 21, "打印列设置"},
    {"actPrePage", 19, "上一页"},
    {"actNextPage", 26, "下一页"},
    {"actAcctLock", 34, "帐户锁定"},
    {"actAcctUnLock", 0, "帐户解锁"},
    {"actItemDetail", 12, "帐目明细"},
    {"actLogin", 5, "登录"},
    {"actExit", 24, "退出"},
    {"actScout", 8, "追踪"},
    {"actNewCust", 28, "新建客户"},
    {"actNewAcct", 29, "新建帐户"},
    {"actRetDeposit", 35, "退押金"},
    {"actSort", 36, "排序"},
    {"actForceEnd", 48, "强制结束"},
    {"actDetail", 47, "详细信息"},
    {"actRePrint", 49, "重打"},
    {"actPreview", 38, "预览"},
    {"actAssign", 39, "分配"},
    {"actRecycle", 42, "回收"},
    {"actActive", 41, "激活"},
    {"actDiscard", 43, "作废"},
    {"actPattComp", 40, "模式比较"},
    {"actBind", 37, "绑定"},
    {"actBookDetail", 46, "帐本明细"},
    {"actFeeDetail", 44, "费用明细"},
    {"actPrintDetail", 45, "打印明细"},
    {"actReOpen", 50, "重新开通"},
    {"actForceOpen", 51, "强制开通"},
    {"actWholesale", 52, "批发"},
    {"actPurchaser", 53, "购买人"},
    {"actAbort", 54, "中止"},
    {"actRetry", 58, "重试"},
    {"actNeglect", 61, "忽略"},
    {"actUnBind", 55, "解除绑定"},
    {"actModiPass", 56, "修改密码"},
    {"actAutho", 59, "授权"},
    {"actUnAutho", 57, "取消授权"},
    {"actUnNew", 60, "撤销新建"},
    {"actImport", 62, "导入"},
    {"actService", 63, "服务"},
    {"actAllot", 64, "调拨"},
    {"actDelay", 65, "延期"},
    {"actLock", 66, "锁定"},
    {"actReSet", 67, "重置"},
    {"actTellLose", 68, "挂失"},
    {"actUnLock", 69, "解锁"},
    {"actOperLock", 70, "操作员锁定"},
    {"actConfig", 71, "配置"},
    {"actReSetRes", 72, "资源重置"},
    {"actToTrophy", 73, "兑换奖品"},
}};

}  // namespace

std::span<const SSharedAction, kSharedActionCount> SharedActions() {
  return kActions;
}

const SSharedAction* FindSharedAction(const char* name) {
  if (name == nullptr) return nullptr;
  for (const SSharedAction& action : kActions)
    if (std::strcmp(action.name, name) == 0) return &action;
  return nullptr;
}

const char* ButtonImageLabel(int index) {
  for (const SSharedAction& action : kActions)
    if (action.imageIndex == index) return action.label;
  return "";
}

}  // namespace MBaseWindow
