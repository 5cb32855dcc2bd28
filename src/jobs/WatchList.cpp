#include "jobs/WatchList.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "jobs/RegisterJob.h"
#include "jobs/ValueDisplay.h"

namespace {

using TJson = nlohmann::json;

// A field that is refused, with the row it is in (1-based).
struct EWatchField {
    std::string Text;
};

[[noreturn]] void Refuse(size_t Row, const std::string &Field, const std::string &What) {
    throw EWatchField{"row " + std::to_string(Row) + ": \"" + Field + "\" " + What};
}

int WholeField(const TJson &J, size_t Row, const char *Field, int Min, int Max) {
    const TJson &V = J.at(Field);
    if (!V.is_number_integer() || V.get<long long>() < Min || V.get<long long>() > Max)
        Refuse(Row, Field,
               "must be a whole number " + std::to_string(Min) + ".." + std::to_string(Max));
    return static_cast<int>(V.get<long long>());
}

double NumberField(const TJson &J, size_t Row, const char *Field, double Default) {
    if (!J.contains(Field)) return Default;
    const TJson &V = J.at(Field);
    if (!V.is_number() || !std::isfinite(V.get<double>())) Refuse(Row, Field, "must be a number");
    return V.get<double>();
}

std::string TextField(const TJson &J, size_t Row, const char *Field) {
    if (!J.contains(Field)) return {};
    const TJson &V = J.at(Field);
    if (!V.is_string() || V.get<std::string>().size() > CMaxWatchText)
        Refuse(Row, Field, "must be a text of at most " + std::to_string(CMaxWatchText) + " bytes");
    return V.get<std::string>();
}

bool SameText(const std::string &A, const char *B) {
    const std::string Bs(B);
    if (A.size() != Bs.size()) return false;
    for (size_t I = 0; I < A.size(); ++I)
        if (std::tolower(static_cast<unsigned char>(A[I])) !=
            std::tolower(static_cast<unsigned char>(Bs[I])))
            return false;
    return true;
}

// A type or word order named in any letter case, as the command line takes
// them.
std::optional<TRegDataType> TypeOf(const TJson &V) {
    if (!V.is_string()) return std::nullopt;
    for (int I = 0; I < RegDataTypeCount; ++I)
        if (SameText(V.get<std::string>(), RegDataTypeText(static_cast<TRegDataType>(I))))
            return static_cast<TRegDataType>(I);
    return std::nullopt;
}
std::optional<TWordOrder> OrderOf(const TJson &V) {
    if (!V.is_string()) return std::nullopt;
    for (TWordOrder O : {woMSWF, woLSWF})
        if (SameText(V.get<std::string>(), WordOrderText(O))) return O;
    return std::nullopt;
}

TWatchRow RowOf(const TJson &J, size_t Row) {
    if (!J.is_object()) throw EWatchField{"row " + std::to_string(Row) + ": not an object"};
    for (const char *Needed : {"address", "register"})
        if (!J.contains(Needed)) Refuse(Row, Needed, "is missing");
    TWatchRow R;
    R.Address = WholeField(J, Row, "address", 1, 247);
    R.Register = WholeField(J, Row, "register", 0, 65535);
    if (J.contains("type")) {
        const auto Type = TypeOf(J.at("type"));
        if (!Type) Refuse(Row, "type", "must be float, int, uint16, BCD, uint32, string or bit");
        R.Type = *Type;
    }
    const TRegTypeInfo &Info = RegTypeInfo(R.Type);
    if (J.contains("order")) {
        const auto Order = OrderOf(J.at("order"));
        if (!Order) Refuse(Row, "order", "must be MSWF or LSWF");
        R.Order = Info.WordOrder ? *Order : woMSWF;
    }
    R.Count = Info.Registers > 0 ? Info.Registers : 1;
    if (J.contains("count")) {
        const int Count = WholeField(J, Row, "count", 1, Info.Registers > 0 ? 65535 : Info.MaxRead);
        if (Info.Registers > 0 && Count != Info.Registers)
            Refuse(Row, "count",
                   std::string("of type ") + Info.Text + " is always " +
                       std::to_string(Info.Registers));
        R.Count = Count;
    }
    R.Label = TextField(J, Row, "label");
    if (R.Label.empty()) R.Label = std::to_string(R.Address) + ":" + std::to_string(R.Register);
    R.Scale = NumberField(J, Row, "scale", 1);
    R.Offset = NumberField(J, Row, "offset", 0);
    R.Unit = TextField(J, Row, "unit");
    return R;
}

}  // namespace

TWatchListRead ParseWatchList(const std::string &Text) {
    TWatchListRead Read;
    const TJson Doc = TJson::parse(Text, nullptr, false);
    if (Doc.is_discarded()) {
        Read.Error = "not a JSON text";
        return Read;
    }
    if (!Doc.is_object() || !Doc.contains("watch") || !Doc.at("watch").is_array()) {
        Read.Error = "no \"watch\" list of rows";
        return Read;
    }
    const TJson &List = Doc.at("watch");
    if (List.empty() || List.size() > CMaxWatchRows) {
        Read.Error = "a list holds 1 to " + std::to_string(CMaxWatchRows) + " rows";
        return Read;
    }
    try {
        std::set<std::string> Labels;
        for (size_t I = 0; I < List.size(); ++I) {
            TWatchRow Row = RowOf(List[I], I + 1);
            if (!Labels.insert(Row.Label).second)
                Refuse(I + 1, "label", "\"" + Row.Label + "\" is given twice");
            Read.Rows.push_back(std::move(Row));
        }
    } catch (const EWatchField &E) {
        Read.Rows.clear();
        Read.Error = E.Text;
    }
    return Read;
}

TWatchListRead ReadWatchListFile(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    TWatchListRead Read;
    if (!In) {
        Read.Error = Path + ": cannot be read";
        return Read;
    }
    std::string Text(CMaxWatchFileBytes + 1, '\0');
    In.read(Text.data(), static_cast<std::streamsize>(Text.size()));
    if (In.bad()) {
        Read.Error = Path + ": cannot be read";
        return Read;
    }
    Text.resize(static_cast<size_t>(In.gcount()));
    if (Text.size() > CMaxWatchFileBytes) {
        Read.Error = Path + ": larger than 1 MiB";
        return Read;
    }
    Read = ParseWatchList(Text);
    if (!Read.Ok()) Read.Error = Path + ": " + Read.Error;
    return Read;
}

std::string WatchListText(const std::vector<TWatchRow> &Rows) {
    TJson List = TJson::array();
    for (const TWatchRow &R : Rows) {
        TJson J{{"address", R.Address}, {"register", R.Register}, {"type", RegDataTypeText(R.Type)},
                {"count", R.Count},     {"label", R.Label},       {"scale", R.Scale},
                {"offset", R.Offset},   {"unit", R.Unit}};
        if (RegTypeInfo(R.Type).WordOrder) J["order"] = WordOrderText(R.Order);
        List.push_back(std::move(J));
    }
    return TJson{{"watch", List}}.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

std::string FormatScaled(const TWatchRow &Row, double Raw, double Scaled) {
    if (Row.Scale == 1 && Row.Offset == 0) return FormatValue(Row.Type, Raw);
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.6g", Scaled);
    return Buf;
}

TWatchReading ReadWatchRow(TModbusRTU &Master, const TWatchRow &Row) {
    TWatchReading Reading = ReadWatchValue(Master, Row);
    FillWatchText(Row, Reading);
    return Reading;
}

void FillWatchText(const TWatchRow &Row, TWatchReading &Reading) {
    if (Reading.Ok && Reading.Raw && Reading.Value && Reading.Text.empty())
        Reading.Text = FormatScaled(Row, *Reading.Raw, *Reading.Value);
}

TWatchReading ReadWatchValue(TModbusRTU &Master, const TWatchRow &Row) {
    const TRegBlock Block{static_cast<uint16_t>(Row.Register), Row.Type, Row.Order, Row.Count};
    const TRegReadResult Read =
        ReadBlockOn(Master, static_cast<uint8_t>(Row.Address), Block, TNumberText::Without);
    TWatchReading Reading;
    if (Read.Failure == TJobText::ReadError) {
        Reading.Why = ModbusFailureReason(Read.Why);
        if (Reading.Why.Empty()) Reading.Why = TJobText::ReadError;
        return Reading;
    }
    if (Read.Failure != TJobText::None) {
        Reading.Why = Read.Failure;
        return Reading;
    }
    Reading.Ok = true;
    if (Read.Number) {
        Reading.Raw = Read.Number;
        Reading.Value = *Read.Number * Row.Scale + Row.Offset;
    } else {
        Reading.Text = Read.Text;
    }
    return Reading;
}

void TWatchStats::Add(const TWatchReading &Reading, uint64_t NowMs) {
    if (!Reading.Ok) {
        ++Errors;
        return;
    }
    ++Good;
    LastGoodMs = NowMs;
    if (!Reading.Value || !std::isfinite(*Reading.Value)) return;
    const double V = *Reading.Value;
    Min = Min ? std::min(*Min, V) : V;
    Max = Max ? std::max(*Max, V) : V;
    Sum += V;
    ++Numbers;
}

std::optional<double> TWatchStats::Mean() const {
    if (Numbers == 0) return std::nullopt;
    return Sum / static_cast<double>(Numbers);
}
