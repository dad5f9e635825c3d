#include "src/VORirori/VORiroriBase.h"

#include <cstring>

namespace vrd {
namespace {

struct AlgIdRow {
  int facade;
  int ecsp;
};

constexpr AlgIdRow kAlgIds[] = {
    {1002, 1200},   {1011, 1400},   {1012, 1500},   {1014, 1700},   {1020, 1800},   {2000, 3400},
    {2020, 3420},   {2030, 2030},   {3000, 11001},  {3010, 11002},  {3011, 11003},  {3020, 11110},
    {3050, 11240},  {3051, 11264},  {3052, 11228},  {3053, 11292},  {3054, 11256},  {3060, 11400},
    {3090, 11828},  {3091, 11828},  {3092, 11892},  {3093, 11856},  {3110, 11728},  {3121, 11792},
    {3122, 11756},  {3130, 20},     {4000, 12000},  {4001, 12001},  {4002, 12002},  {4010, 120201},
    {4011, 120202}, {4021, 13101},  {4022, 13102},  {4023, 13202},  {5010, 31001},  {5020, 31200},
    {5030, 31400},  {5040, 31500},  {6010, 42001},  {6011, 42004},  {6012, 42002},  {7001, 121201},
    {7002, 121202}, {7010, 121400}, {7011, 121401}, {7012, 121402}, {7030, 140000}, {7032, 141401},
    {7033, 141402}, {7041, 141801}, {7042, 141802}, {7050, 171401}, {7051, 171404}, {7052, 171402},
    {7060, 131401}, {7061, 131402}, {7062, 131501}, {7063, 131502}, {7070, 121501}, {7071, 121502},
    {7077, 121701}, {7078, 121702}, {7081, 141502}, {7113, 171410}, {7114, 171411}, {7115, 171412},
};

const char* FileField(const char* path) noexcept {
  const char* field = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') field = p + 1;
  }
  return field;
}

const char* OrEmpty(const char* text) noexcept { return text != nullptr ? text : ""; }

}  // namespace

VORiroriBase::~VORiroriBase() = default;

int VORiroriBase::getECSP_AlgID(int algorithm) noexcept {
  methodName_ = "getECSP_AlgID";
  for (const AlgIdRow& row : kAlgIds) {
    if (row.facade == algorithm) return row.ecsp;
  }
  ByteString label;
  if (label.Format("The AlgID(%d) is not supported.", algorithm) != ByteString::kOk) {
    label = "";
  }
  writeLog("src\\VORirori\\VORiroriBase", 1090, className_, "getECSP_AlgID", label.GetData(), -1,
           nullptr);
  return -1;
}

void VORiroriBase::writeLog(const char* sourcePath, int line, const char* className,
                            const char* operation, const char* label, int value,
                            const char* detail) noexcept {
  // The detail may be our own logText, which Format is about to replace.
  ByteString detail_copy;
  const bool has_detail = detail != nullptr && detail[0] != '\0';
  if (has_detail) detail_copy = detail;
  const char* file = FileField(OrEmpty(sourcePath));
  className = OrEmpty(className);
  operation = OrEmpty(operation);
  label = OrEmpty(label);
  int status;
  if (has_detail) {
    status =
        logText_.Format("[%s:%d]%s::%s-%s(%d),", file, line, className, operation, label, value);
  } else {
    status =
        logText_.Format("[%s:%d]%s::%s-%s(%d)", file, line, className, operation, label, value);
  }
  if (status == ByteString::kOk && has_detail) logText_ += detail_copy;
}

}  // namespace vrd
