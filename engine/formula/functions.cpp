#include "formula/functions.h"
#include "formula/fnimpl.h"
#include "formula/value.h"

#include <cstring>
#include <string>
#include <unordered_map>

namespace sd::formula {

namespace {

constexpr uint8_t V = FunctionInfo::Volatile;
constexpr uint8_t E = FunctionInfo::Elementwise;
constexpr uint8_t R = FunctionInfo::RefResult;
constexpr uint8_t N = 255; // "any number of arguments" (capped at kMaxArguments)

// name, BIFF number, min and max arguments, argument classes, flags, implementation.
// Functions with a BIFF number and min == max are the fixed-argument ones that
// ptgFunc calls; their counts must match the application's table.
const FunctionInfo kFunctions[] = {
    // ---- BIFF functions ----
    { "COUNT", 0, 0, N, "R", 0, fnCount },
    { "IF", 1, 1, 3, "VRR", R, fnIf },
    { "ISNA", 2, 1, 1, "V", E, fnIsNA },
    { "ISERROR", 3, 1, 1, "V", E, fnIsError },
    { "SUM", 4, 0, N, "R", 0, fnSum },
    { "AVERAGE", 5, 1, N, "R", 0, fnAverage },
    { "MIN", 6, 1, N, "R", 0, fnMin },
    { "MAX", 7, 1, N, "R", 0, fnMax },
    { "ROW", 8, 0, 1, "R", 0, fnRow },
    { "COLUMN", 9, 0, 1, "R", 0, fnColumn },
    { "NA", 10, 0, 0, "V", 0, fnNA },
    { "NPV", 11, 2, N, "VR", 0, fnNpv },
    { "STDEV", 12, 1, N, "R", 0, fnStdev },
    { "DOLLAR", 13, 1, 2, "V", E, fnDollar },
    { "FIXED", 14, 1, 3, "V", E, fnFixed },
    { "SIN", 15, 1, 1, "V", E, fnSin },
    { "COS", 16, 1, 1, "V", E, fnCos },
    { "TAN", 17, 1, 1, "V", E, fnTan },
    { "ATAN", 18, 1, 1, "V", E, fnAtan },
    { "PI", 19, 0, 0, "V", 0, fnPi },
    { "SQRT", 20, 1, 1, "V", E, fnSqrt },
    { "EXP", 21, 1, 1, "V", E, fnExp },
    { "LN", 22, 1, 1, "V", E, fnLn },
    { "LOG10", 23, 1, 1, "V", E, fnLog10 },
    { "ABS", 24, 1, 1, "V", E, fnAbs },
    { "INT", 25, 1, 1, "V", E, fnInt },
    { "SIGN", 26, 1, 1, "V", E, fnSign },
    { "ROUND", 27, 2, 2, "V", E, fnRound },
    { "LOOKUP", 28, 2, 3, "VR", 0, fnLookup },
    { "INDEX", 29, 2, 4, "RV", R, fnIndex },
    { "REPT", 30, 2, 2, "V", E, fnRept },
    { "MID", 31, 3, 3, "V", E, fnMid },
    { "LEN", 32, 1, 1, "V", E, fnLen },
    { "VALUE", 33, 1, 1, "V", E, fnValue },
    { "TRUE", 34, 0, 0, "V", 0, fnTrue },
    { "FALSE", 35, 0, 0, "V", 0, fnFalse },
    { "AND", 36, 1, N, "R", 0, fnAnd },
    { "OR", 37, 1, N, "R", 0, fnOr },
    { "NOT", 38, 1, 1, "V", E, fnNot },
    { "MOD", 39, 2, 2, "V", E, fnMod },
    { "DCOUNT", 40, 3, 3, "RRR", 0, fnDCount },
    { "DSUM", 41, 3, 3, "RRR", 0, fnDSum },
    { "DAVERAGE", 42, 3, 3, "RRR", 0, fnDAverage },
    { "DMIN", 43, 3, 3, "RRR", 0, fnDMin },
    { "DMAX", 44, 3, 3, "RRR", 0, fnDMax },
    { "DSTDEV", 45, 3, 3, "RRR", 0, fnDStdev },
    { "VAR", 46, 1, N, "R", 0, fnVar },
    { "DVAR", 47, 3, 3, "RRR", 0, fnDVar },
    { "TEXT", 48, 2, 2, "V", E, fnText },
    { "LINEST", 49, 1, 4, "AAV", 0, fnLinest },
    { "TREND", 50, 1, 4, "AAAV", 0, fnTrend },
    { "LOGEST", 51, 1, 4, "AAV", 0, fnLogest },
    { "GROWTH", 52, 1, 4, "AAAV", 0, fnGrowth },
    { "PV", 56, 3, 5, "V", E, fnPv },
    { "FV", 57, 3, 5, "V", E, fnFv },
    { "NPER", 58, 3, 5, "V", E, fnNper },
    { "PMT", 59, 3, 5, "V", E, fnPmt },
    { "RATE", 60, 3, 6, "V", E, fnRate },
    { "MIRR", 61, 3, 3, "AV", 0, fnMirr },
    { "IRR", 62, 1, 2, "AV", 0, fnIrr },
    { "RAND", 63, 0, 0, "V", V, fnRand },
    { "MATCH", 64, 2, 3, "VRV", 0, fnMatch },
    { "DATE", 65, 3, 3, "V", E, fnDate },
    { "TIME", 66, 3, 3, "V", E, fnTime },
    { "DAY", 67, 1, 1, "V", E, fnDay },
    { "MONTH", 68, 1, 1, "V", E, fnMonth },
    { "YEAR", 69, 1, 1, "V", E, fnYear },
    { "WEEKDAY", 70, 1, 2, "V", E, fnWeekday },
    { "HOUR", 71, 1, 1, "V", E, fnHour },
    { "MINUTE", 72, 1, 1, "V", E, fnMinute },
    { "SECOND", 73, 1, 1, "V", E, fnSecond },
    { "NOW", 74, 0, 0, "V", V, fnNow },
    { "AREAS", 75, 1, 1, "R", 0, fnAreas },
    { "ROWS", 76, 1, 1, "R", 0, fnRows },
    { "COLUMNS", 77, 1, 1, "R", 0, fnColumns },
    { "OFFSET", 78, 3, 5, "RV", V | R, fnOffset },
    { "SEARCH", 82, 2, 3, "V", E, fnSearch },
    { "TRANSPOSE", 83, 1, 1, "A", 0, fnTranspose },
    { "TYPE", 86, 1, 1, "R", 0, fnType },
    { "ATAN2", 97, 2, 2, "V", E, fnAtan2 },
    { "ASIN", 98, 1, 1, "V", E, fnAsin },
    { "ACOS", 99, 1, 1, "V", E, fnAcos },
    { "CHOOSE", 100, 2, N, "VR", R, fnChoose },
    { "HLOOKUP", 101, 3, 4, "VRV", 0, fnHLookup },
    { "VLOOKUP", 102, 3, 4, "VRV", 0, fnVLookup },
    { "ISREF", 105, 1, 1, "R", 0, fnIsRef },
    { "LOG", 109, 1, 2, "V", E, fnLog },
    { "CHAR", 111, 1, 1, "V", E, fnChar },
    { "LOWER", 112, 1, 1, "V", E, fnLower },
    { "UPPER", 113, 1, 1, "V", E, fnUpper },
    { "PROPER", 114, 1, 1, "V", E, fnProper },
    { "LEFT", 115, 1, 2, "V", E, fnLeft },
    { "RIGHT", 116, 1, 2, "V", E, fnRight },
    { "EXACT", 117, 2, 2, "V", E, fnExact },
    { "TRIM", 118, 1, 1, "V", E, fnTrim },
    { "REPLACE", 119, 4, 4, "V", E, fnReplace },
    { "SUBSTITUTE", 120, 3, 4, "V", E, fnSubstitute },
    { "CODE", 121, 1, 1, "V", E, fnCode },
    { "FIND", 124, 2, 3, "V", E, fnFind },
    { "CELL", 125, 1, 2, "VR", V, fnCell },
    { "ISERR", 126, 1, 1, "V", E, fnIsErr },
    { "ISTEXT", 127, 1, 1, "V", E, fnIsText },
    { "ISNUMBER", 128, 1, 1, "V", E, fnIsNumber },
    { "ISBLANK", 129, 1, 1, "V", E, fnIsBlank },
    { "T", 130, 1, 1, "V", E, fnT },
    { "N", 131, 1, 1, "V", E, fnN },
    { "DATEVALUE", 140, 1, 1, "V", E, fnDateValue },
    { "TIMEVALUE", 141, 1, 1, "V", E, fnTimeValue },
    { "SLN", 142, 3, 3, "V", E, fnSln },
    { "SYD", 143, 4, 4, "V", E, fnSyd },
    { "DDB", 144, 4, 5, "V", E, fnDdb },
    { "INDIRECT", 148, 1, 2, "V", V | R, fnIndirect },
    { "CLEAN", 162, 1, 1, "V", E, fnClean },
    { "MDETERM", 163, 1, 1, "A", 0, fnMdeterm },
    { "MINVERSE", 164, 1, 1, "A", 0, fnMinverse },
    { "MMULT", 165, 2, 2, "A", 0, fnMmult },
    { "IPMT", 167, 4, 6, "V", E, fnIpmt },
    { "PPMT", 168, 4, 6, "V", E, fnPpmt },
    { "COUNTA", 169, 0, N, "R", 0, fnCountA },
    { "PRODUCT", 183, 0, N, "R", 0, fnProduct },
    { "FACT", 184, 1, 1, "V", E, fnFact },
    { "DPRODUCT", 189, 3, 3, "RRR", 0, fnDProduct },
    { "ISNONTEXT", 190, 1, 1, "V", E, fnIsNonText },
    { "STDEVP", 193, 1, N, "R", 0, fnStdevP },
    { "VARP", 194, 1, N, "R", 0, fnVarP },
    { "DSTDEVP", 195, 3, 3, "RRR", 0, fnDStdevP },
    { "DVARP", 196, 3, 3, "RRR", 0, fnDVarP },
    { "TRUNC", 197, 1, 2, "V", E, fnTrunc },
    { "ISLOGICAL", 198, 1, 1, "V", E, fnIsLogical },
    { "DCOUNTA", 199, 3, 3, "RRR", 0, fnDCountA },
    { "USDOLLAR", 204, 1, 2, "V", E, fnDollar },
    { "FINDB", 205, 2, 3, "V", E, fnFind },
    { "SEARCHB", 206, 2, 3, "V", E, fnSearch },
    { "REPLACEB", 207, 4, 4, "V", E, fnReplace },
    { "LEFTB", 208, 1, 2, "V", E, fnLeft },
    { "RIGHTB", 209, 1, 2, "V", E, fnRight },
    { "MIDB", 210, 3, 3, "V", E, fnMid },
    { "LENB", 211, 1, 1, "V", E, fnLen },
    { "ROUNDUP", 212, 2, 2, "V", E, fnRoundUp },
    { "ROUNDDOWN", 213, 2, 2, "V", E, fnRoundDown },
    { "ASC", 214, 1, 1, "V", E, fnAsc },
    { "DBCS", 215, 1, 1, "V", E, fnDbcs },
    { "RANK", 216, 2, 3, "VRV", 0, fnRank },
    { "ADDRESS", 219, 2, 5, "V", E, fnAddress },
    { "DAYS360", 220, 2, 3, "V", E, fnDays360 },
    { "TODAY", 221, 0, 0, "V", V, fnToday },
    { "VDB", 222, 5, 7, "V", E, nullptr },
    { "MEDIAN", 227, 1, N, "R", 0, fnMedian },
    { "SUMPRODUCT", 228, 1, N, "A", 0, fnSumProduct },
    { "SINH", 229, 1, 1, "V", E, fnSinh },
    { "COSH", 230, 1, 1, "V", E, fnCosh },
    { "TANH", 231, 1, 1, "V", E, fnTanh },
    { "ASINH", 232, 1, 1, "V", E, fnAsinh },
    { "ACOSH", 233, 1, 1, "V", E, fnAcosh },
    { "ATANH", 234, 1, 1, "V", E, fnAtanh },
    { "DGET", 235, 3, 3, "RRR", 0, fnDGet },
    { "INFO", 244, 1, 1, "V", V, fnInfo },
    { "DB", 247, 4, 5, "V", E, fnDb },
    { "FREQUENCY", 252, 2, 2, "A", 0, fnFrequency },
    { "ERROR.TYPE", 261, 1, 1, "V", E, fnErrorType },
    { "AVEDEV", 269, 1, N, "R", 0, fnAveDev },
    { "BETADIST", 270, 3, 5, "V", E, fnBetaDist },
    { "GAMMALN", 271, 1, 1, "V", E, fnGammaLn },
    { "BETAINV", 272, 3, 5, "V", E, fnBetaInv },
    { "BINOMDIST", 273, 4, 4, "V", E, fnBinomDist },
    { "CHIDIST", 274, 2, 2, "V", E, fnChiDist },
    { "CHIINV", 275, 2, 2, "V", E, fnChiInv },
    { "COMBIN", 276, 2, 2, "V", E, fnCombin },
    { "CONFIDENCE", 277, 3, 3, "V", E, fnConfidence },
    { "CRITBINOM", 278, 3, 3, "V", E, fnCritBinom },
    { "EVEN", 279, 1, 1, "V", E, fnEven },
    { "EXPONDIST", 280, 3, 3, "V", E, fnExponDist },
    { "FDIST", 281, 3, 3, "V", E, fnFDist },
    { "FINV", 282, 3, 3, "V", E, fnFInv },
    { "FISHER", 283, 1, 1, "V", E, fnFisher },
    { "FISHERINV", 284, 1, 1, "V", E, fnFisherInv },
    { "FLOOR", 285, 2, 2, "V", E, fnFloor },
    { "GAMMADIST", 286, 4, 4, "V", E, fnGammaDist },
    { "GAMMAINV", 287, 3, 3, "V", E, fnGammaInv },
    { "CEILING", 288, 2, 2, "V", E, fnCeiling },
    { "HYPGEOMDIST", 289, 4, 4, "V", E, fnHypgeomDist },
    { "LOGNORMDIST", 290, 3, 3, "V", E, fnLognormDist },
    { "LOGINV", 291, 3, 3, "V", E, fnLogInv },
    { "NEGBINOMDIST", 292, 3, 3, "V", E, fnNegBinomDist },
    { "NORMDIST", 293, 4, 4, "V", E, fnNormDist },
    { "NORMSDIST", 294, 1, 1, "V", E, fnNormSDist },
    { "NORMINV", 295, 3, 3, "V", E, fnNormInv },
    { "NORMSINV", 296, 1, 1, "V", E, fnNormSInv },
    { "STANDARDIZE", 297, 3, 3, "V", E, fnStandardize },
    { "ODD", 298, 1, 1, "V", E, fnOdd },
    { "PERMUT", 299, 2, 2, "V", E, fnPermut },
    { "POISSON", 300, 3, 3, "V", E, fnPoisson },
    { "TDIST", 301, 3, 3, "V", E, fnTDist },
    { "WEIBULL", 302, 4, 4, "V", E, fnWeibull },
    { "SUMXMY2", 303, 2, 2, "A", 0, fnSumXMY2 },
    { "SUMX2MY2", 304, 2, 2, "A", 0, fnSumX2MY2 },
    { "SUMX2PY2", 305, 2, 2, "A", 0, fnSumX2PY2 },
    { "CHITEST", 306, 2, 2, "A", 0, nullptr },
    { "CORREL", 307, 2, 2, "A", 0, fnCorrel },
    { "COVAR", 308, 2, 2, "A", 0, fnCovar },
    { "FORECAST", 309, 3, 3, "VAA", 0, fnForecast },
    { "FTEST", 310, 2, 2, "A", 0, nullptr },
    { "INTERCEPT", 311, 2, 2, "A", 0, fnIntercept },
    { "PEARSON", 312, 2, 2, "A", 0, fnCorrel },
    { "RSQ", 313, 2, 2, "A", 0, fnRsq },
    { "STEYX", 314, 2, 2, "A", 0, fnSteyx },
    { "SLOPE", 315, 2, 2, "A", 0, fnSlope },
    { "TTEST", 316, 4, 4, "AAV", 0, nullptr },
    { "PROB", 317, 3, 4, "AAV", 0, nullptr },
    { "DEVSQ", 318, 1, N, "R", 0, fnDevSq },
    { "GEOMEAN", 319, 1, N, "R", 0, fnGeoMean },
    { "HARMEAN", 320, 1, N, "R", 0, fnHarMean },
    { "SUMSQ", 321, 0, N, "R", 0, fnSumSq },
    { "KURT", 322, 1, N, "R", 0, fnKurt },
    { "SKEW", 323, 1, N, "R", 0, fnSkew },
    { "ZTEST", 324, 2, 3, "RV", 0, fnZTest },
    { "LARGE", 325, 2, 2, "RV", 0, fnLarge },
    { "SMALL", 326, 2, 2, "RV", 0, fnSmall },
    { "QUARTILE", 327, 2, 2, "RV", 0, fnQuartile },
    { "PERCENTILE", 328, 2, 2, "RV", 0, fnPercentile },
    { "PERCENTRANK", 329, 2, 3, "RV", 0, fnPercentRank },
    { "MODE", 330, 1, N, "A", 0, fnMode },
    { "TRIMMEAN", 331, 2, 2, "RV", 0, fnTrimMean },
    { "TINV", 332, 2, 2, "V", E, fnTInv },
    { "CONCATENATE", 336, 1, N, "V", E, fnConcatenate },
    { "POWER", 337, 2, 2, "V", E, fnPower },
    { "RADIANS", 342, 1, 1, "V", E, fnRadians },
    { "DEGREES", 343, 1, 1, "V", E, fnDegrees },
    { "SUBTOTAL", 344, 2, N, "VR", 0, fnSubtotal },
    { "SUMIF", 345, 2, 3, "RVR", 0, fnSumIf },
    { "COUNTIF", 346, 2, 2, "RV", 0, fnCountIf },
    { "COUNTBLANK", 347, 1, 1, "R", 0, fnCountBlank },
    { "ISPMT", 350, 4, 4, "V", E, fnIspmt },
    { "DATEDIF", 351, 3, 3, "V", E, fnDatedif },
    { "DATESTRING", 352, 1, 1, "V", E, nullptr },
    { "NUMBERSTRING", 353, 2, 2, "V", E, nullptr },
    { "ROMAN", 354, 1, 2, "V", E, fnRoman },
    { "GETPIVOTDATA", 358, 2, N, "VR", 0, nullptr },
    { "HYPERLINK", 359, 1, 2, "V", E, fnHyperlink },
    { "PHONETIC", 360, 1, 1, "R", 0, nullptr },
    { "AVERAGEA", 361, 1, N, "R", 0, fnAverageA },
    { "MAXA", 362, 1, N, "R", 0, fnMaxA },
    { "MINA", 363, 1, N, "R", 0, fnMinA },
    { "STDEVPA", 364, 1, N, "R", 0, fnStdevPA },
    { "VARPA", 365, 1, N, "R", 0, fnVarPA },
    { "STDEVA", 366, 1, N, "R", 0, fnStdevA },
    { "VARA", 367, 1, N, "R", 0, fnVarA },
    // ---- functions newer than the BIFF table (add-in or _xlfn. names in .xls) ----
    { "IFERROR", -1, 2, 2, "VV", 0, fnIfError },
    { "IFNA", -1, 2, 2, "VV", 0, fnIfNA },
    { "SUMIFS", -1, 3, N, "R|RV", 0, fnSumIfs },
    { "COUNTIFS", -1, 2, N, "|RV", 0, fnCountIfs },
    { "AVERAGEIF", -1, 2, 3, "RVR", 0, fnAverageIf },
    { "AVERAGEIFS", -1, 3, N, "R|RV", 0, fnAverageIfs },
    { "MAXIFS", -1, 3, N, "R|RV", 0, fnMaxIfs },
    { "MINIFS", -1, 3, N, "R|RV", 0, fnMinIfs },
    { "IFS", -1, 2, N, "V", 0, fnIfs },
    { "SWITCH", -1, 3, N, "V", 0, fnSwitch },
    { "XOR", -1, 1, N, "R", 0, fnXor },
    { "CONCAT", -1, 1, N, "R", 0, fnConcat },
    { "TEXTJOIN", -1, 3, N, "VVR", 0, fnTextJoin },
    { "EDATE", -1, 2, 2, "V", E, fnEdate },
    { "EOMONTH", -1, 2, 2, "V", E, fnEomonth },
    { "NETWORKDAYS", -1, 2, 3, "VVR", 0, fnNetworkDays },
    { "WORKDAY", -1, 2, 3, "VVR", 0, fnWorkday },
    { "XLOOKUP", -1, 3, 6, "VRRVVV", 0, fnXLookup },
    { "RANDBETWEEN", -1, 2, 2, "V", V, fnRandBetween },
    { "MROUND", -1, 2, 2, "V", E, fnMround },
    { "CEILING.MATH", -1, 1, 3, "V", E, fnCeilingMath },
    { "FLOOR.MATH", -1, 1, 3, "V", E, fnFloorMath },
    { "CEILING.PRECISE", -1, 1, 2, "V", E, fnCeilingPrecise },
    { "FLOOR.PRECISE", -1, 1, 2, "V", E, fnFloorPrecise },
    { "ISO.CEILING", -1, 1, 2, "V", E, fnCeilingPrecise },
    { "QUOTIENT", -1, 2, 2, "V", E, fnQuotient },
    { "ISEVEN", -1, 1, 1, "V", E, fnIsEven },
    { "ISODD", -1, 1, 1, "V", E, fnIsOdd },
    { "DAYS", -1, 2, 2, "V", E, fnDays },
    { "WEEKNUM", -1, 1, 2, "V", E, fnWeekNum },
    { "ISOWEEKNUM", -1, 1, 1, "V", E, fnIsoWeekNum },
    { "YEARFRAC", -1, 2, 3, "V", E, fnYearFrac },
    { "STDEV.S", -1, 1, N, "R", 0, fnStdev },
    { "STDEV.P", -1, 1, N, "R", 0, fnStdevP },
    { "VAR.S", -1, 1, N, "R", 0, fnVar },
    { "VAR.P", -1, 1, N, "R", 0, fnVarP },
    { "MODE.SNGL", -1, 1, N, "A", 0, fnMode },
    { "PERCENTILE.INC", -1, 2, 2, "RV", 0, fnPercentile },
    { "QUARTILE.INC", -1, 2, 2, "RV", 0, fnQuartile },
    { "RANK.EQ", -1, 2, 3, "VRV", 0, fnRank },
    { "NORM.DIST", -1, 4, 4, "V", E, fnNormDist },
    { "NORM.S.DIST", -1, 2, 2, "V", E, fnNormSDist2 },
    { "NORM.INV", -1, 3, 3, "V", E, fnNormInv },
    { "NORM.S.INV", -1, 1, 1, "V", E, fnNormSInv },
    { "GCD", -1, 1, N, "R", 0, fnGcd },
    { "LCM", -1, 1, N, "R", 0, fnLcm },
    { "AGGREGATE", -1, 3, N, "VVR", 0, nullptr },
    { "UNICHAR", -1, 1, 1, "V", E, fnUnichar },
    { "UNICODE", -1, 1, 1, "V", E, fnUnicode },
    { "NUMBERVALUE", -1, 1, 3, "V", E, fnNumberValue },
    { "SEQUENCE", -1, 1, 4, "V", 0, nullptr },
    { "UNIQUE", -1, 1, 3, "AV", 0, fnUnique },
    { "FILTER", -1, 2, 3, "AAV", 0, nullptr },
    { "SORT", -1, 1, 4, "AV", 0, nullptr },
    { "LET", -1, 3, N, "V", 0, nullptr },
    { "ERF", -1, 1, 2, "V", E, nullptr },
    { "BESSELI", -1, 2, 2, "V", E, fnBesselI },
    { "BESSELJ", -1, 2, 2, "V", E, fnBesselJ },
    { "BESSELK", -1, 2, 2, "V", E, nullptr },
    { "BESSELY", -1, 2, 2, "V", E, nullptr },
    { "COMPLEX", -1, 2, 3, "V", E, fnComplex },
    { "CONVERT", -1, 3, 3, "V", E, nullptr },
    { "XIRR", -1, 2, 3, "AAV", 0, nullptr },
    { "XNPV", -1, 3, 3, "VAA", 0, nullptr },
    { "FVSCHEDULE", -1, 2, 2, "VA", 0, fnFvSchedule },
    { "BETA.DIST", -1, 4, 6, "V", E, fnBetaDist },
    { "BETA.INV", -1, 3, 5, "V", E, fnBetaInv },
    { "BINOM.DIST", -1, 4, 4, "V", E, fnBinomDist },
    { "BINOM.INV", -1, 3, 3, "V", E, fnCritBinom },
    { "CHISQ.DIST", -1, 3, 3, "V", E, fnChiDist },
    { "CHISQ.DIST.RT", -1, 2, 2, "V", E, fnChiDist },
    { "CHISQ.INV", -1, 2, 2, "V", E, fnChiInv },
    { "CHISQ.INV.RT", -1, 2, 2, "V", E, fnChiInv },
    { "CONFIDENCE.NORM", -1, 3, 3, "V", E, fnConfidence },
    { "CONFIDENCE.T", -1, 3, 3, "V", E, fnConfidence },
    { "COVARIANCE.P", -1, 2, 2, "A", 0, fnCovar },
    { "EXPON.DIST", -1, 3, 3, "V", E, fnExponDist },
    { "F.DIST", -1, 4, 4, "V", E, fnFDist },
    { "F.DIST.RT", -1, 3, 3, "V", E, fnFDist },
    { "F.INV", -1, 3, 3, "V", E, fnFInv },
    { "F.INV.RT", -1, 3, 3, "V", E, fnFInv },
    { "GAMMA.DIST", -1, 4, 4, "V", E, fnGammaDist },
    { "GAMMA.INV", -1, 3, 3, "V", E, fnGammaInv },
    { "GAMMALN.PRECISE", -1, 1, 1, "V", E, fnGammaLn },
    { "HYPGEOM.DIST", -1, 5, 5, "V", E, fnHypgeomDist },
    { "LOGNORM.DIST", -1, 4, 4, "V", E, fnLognormDist },
    { "LOGNORM.INV", -1, 3, 3, "V", E, fnLogInv },
    { "NEGBINOM.DIST", -1, 4, 4, "V", E, fnNegBinomDist },
    { "PERCENTRANK.EXC", -1, 2, 3, "RV", 0, fnPercentRank },
    { "PERCENTRANK.INC", -1, 2, 3, "RV", 0, fnPercentRank },
    { "POISSON.DIST", -1, 3, 3, "V", E, fnPoisson },
    { "T.DIST", -1, 3, 3, "V", E, fnTDist },
    { "T.DIST.2T", -1, 2, 2, "V", E, fnTDist },
    { "T.DIST.RT", -1, 2, 2, "V", E, fnTDist },
    { "T.INV", -1, 2, 2, "V", E, fnTInv },
    { "T.INV.2T", -1, 2, 2, "V", E, fnTInv },
    { "WEIBULL.DIST", -1, 4, 4, "V", E, fnWeibull },
    { "Z.TEST", -1, 2, 3, "RV", 0, fnZTest },
    { "ECMA.CEILING", -1, 2, 2, "V", E, fnCeiling },
    { "BIN2DEC", -1, 1, 1, "V", E, fnBin2Dec },
    { "BIN2HEX", -1, 1, 2, "V", E, fnBin2Hex },
    { "BIN2OCT", -1, 1, 2, "V", E, fnBin2Oct },
    { "DEC2BIN", -1, 1, 2, "V", E, fnDec2Bin },
    { "DEC2HEX", -1, 1, 2, "V", E, fnDec2Hex },
    { "DEC2OCT", -1, 1, 2, "V", E, fnDec2Oct },
    { "HEX2BIN", -1, 1, 2, "V", E, fnHex2Bin },
    { "HEX2DEC", -1, 1, 1, "V", E, fnHex2Dec },
    { "HEX2OCT", -1, 1, 2, "V", E, fnHex2Oct },
    { "OCT2BIN", -1, 1, 2, "V", E, fnOct2Bin },
    { "OCT2DEC", -1, 1, 1, "V", E, fnOct2Dec },
    { "OCT2HEX", -1, 1, 2, "V", E, fnOct2Hex },
    { "DELTA", -1, 1, 2, "V", E, fnDelta },
    { "GESTEP", -1, 1, 2, "V", E, fnGeStep },
    { "FACTDOUBLE", -1, 1, 1, "V", E, fnFactDouble },
    { "MULTINOMIAL", -1, 1, N, "R", 0, fnMultinomial },
    { "SQRTPI", -1, 1, 1, "V", E, fnSqrtPi },
    { "SERIESSUM", -1, 4, 4, "VVVR", 0, fnSeriesSum },
    { "CUMIPMT", -1, 6, 6, "V", E, fnCumIpmt },
    { "CUMPRINC", -1, 6, 6, "V", E, fnCumPrinc },
    { "EFFECT", -1, 2, 2, "V", E, fnEffect },
    { "NOMINAL", -1, 2, 2, "V", E, fnNominal },
    { "DOLLARDE", -1, 2, 2, "V", E, fnDollarDe },
    { "DOLLARFR", -1, 2, 2, "V", E, fnDollarFr },
};

constexpr int kCount = int(sizeof kFunctions / sizeof kFunctions[0]);

struct Tables
{
    std::unordered_map<std::string, int> byName;
    std::unordered_map<int, int> byBiff;
    Tables()
    {
        for (int i = 0; i < kCount; ++i) {
            byName.emplace(kFunctions[i].name, i);
            if (kFunctions[i].biff >= 0)
                byBiff.emplace(kFunctions[i].biff, i);
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

} // namespace

int findFunction(std::string_view name)
{
    static const char *const prefixes[] = { "_xlfn.", "_xlws.", "_xlfn._xlws." };
    std::string upper = upperText(name);
    for (;;) {
        bool stripped = false;
        for (const char *p : prefixes) {
            const size_t n = std::strlen(p);
            if (upper.size() > n && compareText(std::string_view(upper).substr(0, n), p) == 0) {
                upper.erase(0, n);
                stripped = true;
            }
        }
        if (!stripped)
            break;
    }
    const auto &m = tables().byName;
    auto it = m.find(upper);
    return it == m.end() ? -1 : it->second;
}

int functionByBiff(int number)
{
    const auto &m = tables().byBiff;
    auto it = m.find(number);
    return it == m.end() ? -1 : it->second;
}

bool applicationHasFunction(std::string_view name)
{
    // Worksheet functions the application has that the table leaves out:
    // mostly the financial and engineering ones that were an add-in before
    // 2007, the cube functions and the Thai ones.
    static const char *const kOthers[] = { "ACCRINT",
                                           "ACCRINTM",
                                           "AMORDEGRC",
                                           "AMORLINC",
                                           "BAHTTEXT",
                                           "CALL",
                                           "COUPDAYBS",
                                           "COUPDAYS",
                                           "COUPDAYSNC",
                                           "COUPNCD",
                                           "COUPNUM",
                                           "COUPPCD",
                                           "CUBEKPIMEMBER",
                                           "CUBEMEMBER",
                                           "CUBEMEMBERPROPERTY",
                                           "CUBERANKEDMEMBER",
                                           "CUBESET",
                                           "CUBESETCOUNT",
                                           "CUBEVALUE",
                                           "DISC",
                                           "DURATION",
                                           "ERFC",
                                           "EUROCONVERT",
                                           "IMABS",
                                           "IMAGINARY",
                                           "IMARGUMENT",
                                           "IMCONJUGATE",
                                           "IMCOS",
                                           "IMDIV",
                                           "IMEXP",
                                           "IMLN",
                                           "IMLOG10",
                                           "IMLOG2",
                                           "IMPOWER",
                                           "IMPRODUCT",
                                           "IMREAL",
                                           "IMSIN",
                                           "IMSQRT",
                                           "IMSUB",
                                           "IMSUM",
                                           "INTRATE",
                                           "ISTHAIDIGIT",
                                           "JIS",
                                           "MDURATION",
                                           "NETWORKDAYS.INTL",
                                           "ODDFPRICE",
                                           "ODDFYIELD",
                                           "ODDLPRICE",
                                           "ODDLYIELD",
                                           "PRICE",
                                           "PRICEDISC",
                                           "PRICEMAT",
                                           "RECEIVED",
                                           "REGISTER.ID",
                                           "ROUNDBAHTDOWN",
                                           "ROUNDBAHTUP",
                                           "RTD",
                                           "STEYX",
                                           "TBILLEQ",
                                           "TBILLPRICE",
                                           "TBILLYIELD",
                                           "THAIDAYOFWEEK",
                                           "THAIDIGIT",
                                           "THAIMONTHOFYEAR",
                                           "THAINUMSOUND",
                                           "THAINUMSTRING",
                                           "THAISTRINGLENGTH",
                                           "THAIYEAR",
                                           "WORKDAY.INTL",
                                           "YIELD",
                                           "YIELDDISC",
                                           "YIELDMAT" };
    std::string upper = upperText(name);
    if (upper.compare(0, 7, "_XLUDF.") == 0)
        return false;
    if (upper.compare(0, 3, "_XL") == 0 || findFunction(upper) >= 0)
        return true;
    for (const char *other : kOthers)
        if (upper == other)
            return true;
    return false;
}

const FunctionInfo &functionInfo(int id)
{
    return kFunctions[id];
}

int functionCount()
{
    return kCount;
}

char argumentClass(const FunctionInfo &f, int index)
{
    const char *bar = std::strchr(f.classes, '|');
    if (bar) {
        const size_t head = size_t(bar - f.classes);
        if (size_t(index) < head)
            return f.classes[index];
        const size_t cycle = std::strlen(bar + 1);
        return cycle ? bar[1 + (size_t(index) - head) % cycle] : 'V';
    }
    const size_t n = std::strlen(f.classes);
    if (n == 0)
        return 'V';
    return f.classes[size_t(index) < n ? size_t(index) : n - 1];
}

} // namespace sd::formula
