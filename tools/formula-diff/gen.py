#!/usr/bin/python3
"""Writes the formula batteries of the differential test against LibreOffice.

Usage:  gen.py OUT_DIR

One workbook per family (OUT_DIR/FAMILY.xlsx), one worksheet each:
column A the formula's text, column B the formula, its result formatted as
FORMAT (default 0.000000000, so numbers compare to nine places), and the
input cells in D1:H10 (the same in every workbook, see INPUTS). The cached
results XlsxWriter writes are removed, so a converter must calculate every
formula. Needs XlsxWriter (Debian: python3-xlsxwriter).
"""
import os
import re
import sys
import zipfile

import xlsxwriter

NUM = "0.000000000"

# D: numbers, E: text, F: mixed kinds, G: date serials, H: a sparse column.
INPUTS = {
    "D": [1, 2.5, -3, 4, 0, 10, 7, 3, 2.5, 100],
    "E": ["apple", "Banana", "cherry", "10", "", " x  y ", "date", "a*b", "Apple", "zeta"],
    "F": [True, 5, "7", None, False, 2, "=1/0", "text", 4, "=NA()"],
    "G": [43831, 43862, 44000.75, 36526, 61, 59, 1, 2958465, 45000.5, 0.25],
    "H": [None, None, 3, None, None, None, 8, None, None, None],
}


def calls(names, args):
    """Every function of `names` with every argument text of `args`."""
    return [f"{n}({a})" for n in names for a in args]


def families():
    fam = {}
    fam["arith"] = [
        "1+2*3", "2^-1", "-2^2", "(-8)^(1/3)", "0^0", "10/0", '"3"+4', '"1/2/2020"+0',
        "TRUE+TRUE", '"a"&1.5', "D2*E4", "D1+F1", "D1+F3", "D1+F4", "F7+1", "5%",
        "1E+308*10", "0.1+0.2-0.3", "1-0.9", "D3/7", "2^1023*2", "-D3", "+E1",
        "D1:D3", "SUM(D1:D3 D2:E2)", "SUM((D1:D2,D4))", "1=1.0", '"a"="A"', '"a"<"B"',
        "TRUE>1", '"1"=1', "F4=0", 'F4=""', "F1=1", "D5=F5", "E5=F4",
    ]
    fam["math"] = (
        calls(["ABS", "INT", "TRUNC", "SIGN", "SQRT", "LN", "LOG10", "EXP", "FACT", "EVEN", "ODD"],
              ["-2.5", "0", "7.3", "1E+10"])
        + calls(["ROUND", "ROUNDUP", "ROUNDDOWN"], ["2.345,2", "-2.345,2", "1234.5,-2", "0.5,0", "-0.5,0", "2.5,0"])
        + calls(["MROUND"], ["10,3", "-10,-3", "1.3,0.2", "5,-2", "0.15,0.1"])
        + calls(["CEILING", "FLOOR"], ["2.5,1", "-2.5,-2", "-2.5,2", "1.5,0.1", "0,5", "5,0"])
        + calls(["CEILING.MATH", "FLOOR.MATH"], ["24.3,5", "-8.1,2", "-5.5,2,-1", "6.7"])
        + calls(["MOD"], ["3,2", "-3,2", "3,-2", "-3,-2", "5.5,1.5", "1,0", "1E+20,3"])
        + calls(["QUOTIENT"], ["5,2", "-10,3", "4.5,3.1"])
        + calls(["POWER"], ["2,10", "-8,1/3", "0,-1", "4,0.5"])
        + calls(["LOG"], ["8,2", "100", "10,1", "0"])
        + calls(["GCD", "LCM"], ["5,2", "24,36", "0,7", "2.9,4.1", "-1,3"])
        + calls(["COMBIN", "PERMUT"], ["8,2", "10,0", "5,6", "4.9,2.1"])
        + ["SUM(D1:D10)", "SUM(D1:H10)", "SUM(F1:F10)", "SUMPRODUCT(D1:D10,G1:G10)", "PRODUCT(D1:D4)",
           'SUMIF(D1:D10,">2")', 'SUMIF(E1:E10,"a*",D1:D10)', 'SUMIFS(D1:D10,D1:D10,">=2.5",E1:E10,"<>date")',
           "SUMSQ(D1:D4)", "PI()*2", "SQRT(PI())", "RADIANS(180)", "DEGREES(1)", "SIN(1)", "COS(1)", "TAN(1)",
           "ATAN2(1,1)", "ATAN2(-1,0)", "ATAN2(0,0)", "SINH(1)", "ACOS(2)", "ROMAN(1999)", "ROMAN(4,4)",
           "ARABIC(\"MCMXCIX\")", "BASE(255,16)", "DECIMAL(\"FF\",16)", "MULTINOMIAL(2,3,4)",
           "SUBTOTAL(9,D1:D10)", "SUBTOTAL(2,F1:F10)", "SUBTOTAL(3,E1:E10)", "SIGN(-0.0)"]
    )
    fam["stats"] = (
        ["COUNTBLANK(H1:H10)", "COUNTBLANK(E1:E10)"]
        + calls(["AVERAGE", "AVERAGEA", "COUNT", "COUNTA", "MAX", "MAXA", "MIN", "MINA", "MEDIAN",
               "STDEV", "STDEVA", "STDEVP", "VAR", "VARA", "VARP", "AVEDEV", "DEVSQ", "MODE", "KURT", "SKEW"],
              ["D1:D10", "F1:F6", "H1:H10", "D1:D4,TRUE", 'D1:D4,"5"'])
        + calls(["LARGE", "SMALL"], ["D1:D10,2", "D1:D10,11", "F1:F6,1"])
        + calls(["PERCENTILE", "QUARTILE", "PERCENTILE.EXC", "QUARTILE.EXC"], ["D1:D10,0.3", "D1:D10,1", "D1:D10,0"])
        + calls(["RANK", "RANK.AVG"], ["2.5,D1:D10", "2.5,D1:D10,1", "99,D1:D10"])
        + calls(["PERCENTRANK"], ["D1:D10,3", "D1:D10,2.7,4"])
        + ['COUNTIF(E1:E10,"a*")', 'COUNTIF(E1:E10,"<c")', 'COUNTIF(D1:D10,">=2.5")', 'COUNTIF(F1:F10,TRUE)',
           'COUNTIF(E1:E10,"10")', 'COUNTIF(D1:D10,"<>3")', 'COUNTIF(E1:E10,"")', 'COUNTIFS(D1:D10,">1",G1:G10,">100")',
           'AVERAGEIF(D1:D10,">2")', 'AVERAGEIF(E1:E10,"a*",D1:D10)', "CORREL(D1:D10,G1:G10)", "SLOPE(D1:D10,G1:G10)",
           "INTERCEPT(D1:D10,G1:G10)", "FORECAST(5,D1:D10,G1:G10)", "GEOMEAN(D1:D2)", "HARMEAN(D1:D2,4)",
           "TRIMMEAN(D1:D10,0.2)", "STANDARDIZE(1,2,3)", "MAXIFS(D1:D10,E1:E10,\"?*\")", "MINIFS(D1:D10,D1:D10,\">0\")"]
    )
    fam["text"] = (
        calls(["LEN", "UPPER", "LOWER", "PROPER", "TRIM", "CLEAN", "VALUE", "T", "N", "CODE"],
              ["E1", "E6", '"hello WORLD-foo bar"', "D2", "F1", '"12%"', '"$1,234.50"'])
        + ['LEFT("abc",0)', 'LEFT("abc")', 'RIGHT("abc",5)', 'MID("abcdef",3,2)', 'MID("abc",5,1)', 'MID("abc",0,1)',
           'FIND("b","abcb",3)', 'FIND("z","abc")', 'SEARCH("?c","abcd")', 'SEARCH("B*","abc")', 'SUBSTITUTE("aaa","a","b",2)',
           'SUBSTITUTE("a.b.c",".","")', 'REPLACE("abcdef",2,3,"X")', 'REPT("ab",3)', 'REPT("x",0)', 'EXACT("a","A")',
           'CONCATENATE("a",1,TRUE)', 'CONCAT(E1:E3)', 'TEXTJOIN("-",TRUE,E1:E5)', 'TEXTJOIN("-",FALSE,E4:E6)',
           'CHAR(65)', 'UNICHAR(8364)', 'UNICODE("€")', 'FIXED(1234.567,1)', 'FIXED(-1234.567,-1,TRUE)', 'DOLLAR(-1234.567,2)',
           'TEXT(1234.567,"#,##0.00")', 'TEXT(0.25,"0%")', 'TEXT(43831,"yyyy-mm-dd")', 'TEXT(44000.75,"h:mm AM/PM")',
           'TEXT(-1.5,"0.0;(0.0)")', 'TEXT(1.5,"# ?/?")', 'TEXT(12345,"0.00E+00")', 'TEXT("abc","@x")', 'VALUE("1e3")',
           'VALUE("2020-01-02")', 'VALUE(" 12 ")', 'VALUE("abc")', 'NUMBERVALUE("1.234,5",",",".")', 'LEN(12.50)', "D2&\"\"",
           'TRIM("  a   b  ")', 'PROPER("o\'neil mcDONALD 2nd")', 'CLEAN(CHAR(7)&"x")', 'LOWER(TRUE)']
    )
    fam["logic"] = [
        "IF(D1,\"y\",\"n\")", "IF(D5,\"y\",\"n\")", "IF(E1,1,2)", "IF(F4,1,2)", "IF(D1>0,)", "AND(D1:D10)", "AND(F1:F6)",
        "OR(F4,F5)", "AND(E1:E3)", "XOR(D1:D4)", "NOT(D5)", "IFERROR(F7,\"e\")", "IFNA(F10,\"na\")", "IFNA(F7,1)",
        "ISNUMBER(F3)", "ISTEXT(F3)", "ISBLANK(F4)", "ISBLANK(E5)", "ISLOGICAL(F1)", "ISERR(F10)", "ISERROR(F10)",
        "ISNA(F7)", "ISEVEN(D2)", "ISODD(D3)", "ISREF(D1:D2)", "ISNONTEXT(F4)", "ISFORMULA(F7)", "TYPE(F1)",
        "TYPE(E1)", "TYPE(D1:D2)", "TYPE(F7)", "ERROR.TYPE(F7)", "ERROR.TYPE(F10)", "CHOOSE(2,\"a\",\"b\",\"c\")",
        "CHOOSE(4,1,2)", "SWITCH(D2,1,\"one\",2.5,\"two.5\")", "IFS(D1>5,1,D1>0,2)", "N(F1)", "N(G1)",
    ]
    fam["date"] = (
        calls(["YEAR", "MONTH", "DAY", "WEEKDAY", "HOUR", "MINUTE", "SECOND", "WEEKNUM", "ISOWEEKNUM"],
              ["G1", "G3", "G5", "G6", "G7", "G9", "G10"])
        + ["DATE(2020,2,30)", "DATE(1900,1,1)", "DATE(1899,12,31)", "DATE(10000,1,1)", "DATE(2021,0,0)",
           "DATE(2020,-1,15)", "DATE(1904,1,1)", "TIME(12,30,30)", "TIME(-1,0,0)", "TIME(0,0,86400)",
           'DATEVALUE("2020-02-29")', 'DATEVALUE("29-Feb-2021")', 'DATEVALUE("1/2/2020")', 'TIMEVALUE("25:00")',
           'TIMEVALUE("12:30:15 PM")', "EDATE(G1,-13)", "EOMONTH(G1,-1)", "EOMONTH(G3,0.9)", "DAYS360(G1,G3)",
           "DAYS360(DATE(2020,2,29),DATE(2021,2,28))", "DAYS360(DATE(2020,2,29),DATE(2021,2,28),TRUE)",
           "NETWORKDAYS(G1,G2)", "NETWORKDAYS(G2,G1)", "WORKDAY(G1,10)", "WORKDAY(G1,-3)", 'DATEDIF(G4,G1,"YD")',
           'DATEDIF(G4,G1,"MD")', "YEARFRAC(G1,G3)", "YEARFRAC(G1,G3,1)", "YEARFRAC(G4,G1,3)", "YEARFRAC(G1,G3,4)",
           "WEEKDAY(G1,3)", "WEEKDAY(G1,11)", "WEEKNUM(G1,2)", "WEEKNUM(G1,21)", "DAYS(G3,G1)", "DAY(G8)", "YEAR(G8)"]
    )
    fam["lookup"] = [
        "VLOOKUP(2.5,D1:E10,2,FALSE)", "VLOOKUP(3,D1:E10,2)", 'VLOOKUP("b*",E1:E10,1,FALSE)', "HLOOKUP(1,D1:H3,3,FALSE)",
        "MATCH(7,D1:D10,0)", 'MATCH("CHERRY",E1:E10,0)', 'MATCH("c?erry",E1:E10,0)', "MATCH(5,D1:D4)",
        "MATCH(4,{5,4,3,2},-1)", "INDEX(D1:H10,3,2)", "INDEX(D1:H10,0,1)", "SUM(INDEX(D1:H10,2,0))", "INDEX(D1:D10,11)",
        "LOOKUP(2,D1:D2,E1:E2)", 'LOOKUP("b",E1:E3)', "ROW(D5)", "COLUMN(F1)", "ROWS(D1:H10)", "COLUMNS(D1:H10)",
        "ADDRESS(2,3)", "ADDRESS(2,3,4)", "ADDRESS(2,3,1,FALSE)", 'ADDRESS(1,1,1,TRUE,"S 1")', "AREAS((D1,E1:E2))",
        'INDIRECT("D"&2)', 'INDIRECT("R2C4",FALSE)', "SUM(OFFSET(D1,1,0,3,1))", "OFFSET(D1,0,0,0,1)",
        "XLOOKUP(7,D1:D10,E1:E10)", 'XLOOKUP("zz",E1:E10,D1:D10,"none")', "CHOOSE(2,D1,D2)+0",
        "TRANSPOSE(D1:D3)", "COUNT(INDEX(D1:H10,0,5))",
    ]
    fam["dist"] = (
        calls(["NORMDIST", "LOGNORM.DIST"], ["1,0,1,TRUE", "2,1,0.5,TRUE"])
        + ["NORMSDIST(-1)", "NORMSINV(0.975)", "NORMINV(0.3,5,2)", "TDIST(2,10,2)", "TINV(0.05,10)", "CHIDIST(3,4)",
           "CHIINV(0.2,4)", "FDIST(2,3,4)", "FINV(0.2,3,4)", "BINOMDIST(4,10,0.3,TRUE)", "CRITBINOM(10,0.3,0.5)",
           "POISSON(3,2,TRUE)", "EXPONDIST(1,2,FALSE)", "GAMMADIST(3,2,1.5,TRUE)", "GAMMAINV(0.4,2,1.5)",
           "BETADIST(0.4,2,3)", "BETAINV(0.4,2,3)", "WEIBULL(2,1.5,3,FALSE)", "HYPGEOMDIST(2,5,10,40)",
           "NEGBINOMDIST(3,2,0.4)", "GAMMALN(7.5)", "FISHER(0.3)", "FISHERINV(0.3)", "CONFIDENCE(0.1,2,30)",
           "ERF(0.5)", "ERFC(0.5)", "PHI(0.5)", "GAUSS(1)", "GAMMA(4.5)", "CHISQ.TEST({1,2;3,4},{2,2;3,3})"]
    )
    fam["fin"] = [
        "PMT(0.05/12,360,-200000)", "PMT(0,10,100)", "PV(0.05,10,-100,0,1)", "FV(0.04,5,-100,-1000)", "NPER(0.05,-100,1000)",
        "RATE(10,-100,800)", "RATE(10,-100,800,0,1,0.2)", "IPMT(0.05,2,10,1000)", "PPMT(0.05,2,10,1000)", "NPV(0.1,D1:D4)",
        "IRR({-100,30,40,50})", "MIRR({-100,30,40,50},0.1,0.12)", "SLN(1000,100,5)", "SYD(1000,100,5,2)",
        "DB(1000,100,5,1)", "DB(1000,100,5,6,8)", "DDB(1000,100,5,2)", "VDB(2400,300,10,0,1)", "EFFECT(0.1,12)",
        "NOMINAL(0.1,12)", "CUMIPMT(0.05/12,60,10000,1,12,0)", "CUMPRINC(0.05/12,60,10000,1,12,0)",
        "ISPMT(0.1,1,5,1000)", "FVSCHEDULE(100,{0.1,0.2})", "DOLLARDE(1.1,8)", "DOLLARFR(1.125,8)",
        "PDURATION(0.025,2000,2200)", "RRI(96,10000,11000)",
    ]
    fam["eng"] = (
        calls(["DEC2BIN", "DEC2OCT", "DEC2HEX"], ["10", "-10", "10,8", "600"])
        + calls(["BIN2DEC", "OCT2DEC", "HEX2DEC"], ["1111111111", "101", '"7FF"'])
        + ["DELTA(1,1.0)", "GESTEP(-1)", "COMPLEX(1,-1)", "IMABS(\"3+4i\")", "IMSUM(\"1+i\",\"2-3i\")", "BITAND(12,10)",
           "BITLSHIFT(1,4)", "CONVERT(1,\"in\",\"cm\")", "CONVERT(100,\"C\",\"F\")", "BESSELK(1.5,1)", "BESSELY(2.5,1)",
           "BESSELI(1,0)", "BESSELJ(2,1)"]
    )
    return fam


# Functions newer than the .xls format, which the file stores with an _xlfn.
# prefix (so do names with a dot, except ERROR.TYPE).
FUTURE = {
    "AGGREGATE", "ARABIC", "BASE", "BITAND", "BITLSHIFT", "CONCAT", "DAYS", "DECIMAL", "GAMMA", "GAUSS",
    "IFNA", "IFS", "ISFORMULA", "ISOWEEKNUM", "MAXIFS", "MINIFS", "NUMBERVALUE", "PDURATION", "PHI", "RRI",
    "SWITCH", "TEXTJOIN", "UNICHAR", "UNICODE", "XLOOKUP", "XOR",
}


def stored(formula):
    """The formula as the file stores it."""
    def prefix(m):
        name = m.group(1)
        newer = name in FUTURE or ("." in name and name != "ERROR.TYPE")
        return ("_xlfn." if newer else "") + name + "("
    return re.sub(r"(?<![\w.])([A-Z][A-Z0-9.]*)\(", prefix, formula)


def write(path, formulas):
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet("Sheet1")
    fmt = wb.add_format({"num_format": NUM})
    for col, values in INPUTS.items():
        for r, v in enumerate(values):
            cell = f"{col}{r + 1}"
            if v is None:
                continue
            if isinstance(v, str) and v.startswith("="):
                ws.write_formula(cell, v)
            elif isinstance(v, bool):
                ws.write_boolean(cell, v)
            elif isinstance(v, str):
                ws.write_string(cell, v)
            else:
                ws.write_number(cell, v)
    for r, f in enumerate(formulas):
        ws.write_string(r, 0, f)
        ws.write_formula(r, 1, "=" + stored(f), fmt)
    wb.close()
    # XlsxWriter stores 0 as every formula's result: remove it, so nothing
    # can show a cached value.
    with zipfile.ZipFile(path) as z:
        parts = {n: z.read(n) for n in z.namelist()}
    sheet = "xl/worksheets/sheet1.xml"
    parts[sheet] = re.sub(rb"(</f>)<v>[^<]*</v>", rb"\1", parts[sheet])
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in parts.items():
            z.writestr(n, data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    total = 0
    for name, formulas in families().items():
        write(os.path.join(out, name + ".xlsx"), formulas)
        total += len(formulas)
    print(f"{total} formulas in {len(families())} workbooks under {out}")


if __name__ == "__main__":
    main()
