// The record line: its digest, its time, its JSON, and a record file that cannot be written.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "protocol/firmware_id.h"
#include "records/json.h"
#include "records/record_line.h"
#include "records/record_log.h"
#include "records/sha256.h"
#include "records/uuid7.h"
#include "tests/support/temp_env.h"

namespace zl::test {
namespace {

std::string Digest(const std::string& data, size_t chunk) {
    Sha256 h;
    for (size_t i = 0; i < data.size(); i += chunk)
        h.Update(reinterpret_cast<const uint8_t*>(data.data()) + i, std::min(chunk, data.size() - i));
    return h.HexDigest();
}

TEST(Record, Sha256MatchesTheStandardVectorsInAnyChunking) {
    EXPECT_EQ(Digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 56 bytes: padding spills over
    for (size_t chunk : {1, 7, 64, 1000})
        EXPECT_EQ(Digest(two, chunk), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Digest(std::string(1000000, 'a'), 4096), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Record, LineIsOneJsonObjectWithUtcMillisecondsAndValidUtf8) {
    TransferRecord r;
    r.operation = Operation::Load;
    r.deviceSel = 0;
    r.port = u"\\\\.\\COM42";
    r.baud = 115200;
    r.manufacturer = u"Hallwyn Geraete ";
    r.firmwareBefore = u"aktuelle Firmware:\r\nName   : Corvel-Basis    \r\nVersion: 3.4.1   \r\nDatum  : 01.10.2026\r\n\"alt\"";
    r.firmwareAfter = u"aktuelle Firmware:\r\n(keine)\r\n";
    r.filePath = u"/tmp/f\u00fcr/fw.spic32";
    r.bytes = 11520;
    r.units = 22;
    r.durationUs = 2000000;
    r.outcome = Outcome::TransferFailed;
    r.cause = Cause::Length;
    r.boxText = u"Fehler";
    r.fileSize = 11520;
    r.fileSha256 = "ab";
    r.phaseUs = {6105000, 4220400, -1, -1};
    RecordContext c;
    c.startUtcMs = 951782400123;  // 2000-02-29 00:00:00.123
    c.devicePath = "/dev/ttyUSB0";
    c.id = "0000";
    c.tags = {"SN-7", "Basis 3.5", "cd"};
    const std::string line = FormatRecord(r, c);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line
    for (const char* part : {"\"schema\":2,\"id\":\"0000\",\"time\":\"2000-02-29T00:00:00.123Z\"", "\"port\":\"COM42\",\"station\":\"COM42\"",
                             "\"device_kind\":\"pic32\"", "\"unit_id\":\"SN-7\",\"job\":{\"name\":\"Basis 3.5\",\"sha256\":\"cd\"}",
                             "\"identity\":{\"manufacturer\":\"Hallwyn Geraete\",\"hardware\":\"\",\"firmware_before\":{\"name\":"
                             "\"Corvel-Basis\",\"version\":\"3.4.1\",\"date\":\"01.10.2026\"},\"firmware_after\":null,\"panels\":"
                             "{\"firmware_before\":\"aktuelle Firmware:\\r\\nName   : Corvel-Basis    \\r\\n",
                             "\"phases\":{\"send\":6.105,\"program\":4.220}",
                             "\"path\":\"/tmp/f\xc3\xbcr/fw.spic32\"", "\"unit\":\"dots\"", "\"bytes_per_s\":5760.0",
                             "\"line_bytes_per_s\":11520", "\"line_efficiency\":0.5000",
                             "\"result\":{\"outcome\":\"transfer-failed\",\"failure\":\"length\",\"detail\":\"length\",\"box\":\"Fehler\"}"})
        EXPECT_NE(line.find(part), std::string::npos) << part << "\n" << line;

    // A verify mismatch: the blocks the device marked, as block and byte ranges; the
    // schema's cause name beside the finer one.
    r.operation = Operation::Verify;
    r.outcome = Outcome::VerifyMismatch;
    r.cause = Cause::VerifyMismatch;
    r.mismatchBlocks = {4, 3, 9};
    c.tags = {};
    const std::string verify = FormatRecord(r, c);
    for (const char* part : {"\"unit_id\":null,\"job\":null", "\"firmware_after\":null,\"panels\":{\"firmware_before\":",
                             "\"failure\":\"verify-mismatch\",\"detail\":\"mismatch\",\"box\":\"Fehler\",\"mismatch\":"
                             "[{\"blocks\":[3,4],\"bytes\":[1536,2559]},{\"blocks\":[9,9],\"bytes\":[4608,5119]}]"})
        EXPECT_NE(verify.find(part), std::string::npos) << part << "\n" << verify;
    EXPECT_EQ(FormatUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(JsonQuote(std::string("a\xff" "b\xc3")), "\"a\\ufffdb\\ufffd\"");  // bytes that are not UTF-8
}

TEST(Record, IdsAreVersion7AndSortAsMadeEvenWithinOneMillisecondOrAClockStepBack) {
    std::string last;
    for (int64_t ms : {1765300000000, 1765300000000, 1765300000000, 1765299999000, 1765300000001}) {
        const std::string id = NewUuid7(ms);
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '7');
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos);
        EXPECT_GT(id, last);
        last = id;
    }
    EXPECT_EQ(NewUuid7(0x020000a5c27b).substr(0, 13), "020000a5-c27b");  // the milliseconds lead
}

TEST(Record, FirmwareIsReadFromEitherKindsPanelInEitherLanguage) {
    const auto pic = ParseFirmwareId(u" Current Firmware:\r\nName   : Corvel-Basis    \r\nVersion: 3.5.0   \r\nDate   : 07.12.2026\r\n");
    ASSERT_TRUE(pic);
    EXPECT_EQ(*pic, (FirmwareId{"Corvel-Basis", "3.5.0", "07.12.2026"}));
    const auto hcs = ParseFirmwareId(u"\rSoftware:\tZL418NRD\rVersion:\t\tV04.07.1\rDatum:\t\t07.12.26");
    ASSERT_TRUE(hcs);
    EXPECT_EQ(*hcs, (FirmwareId{"ZL418NRD", "V04.07.1", "07.12.26"}));
    EXPECT_FALSE(ParseFirmwareId(u"aktuelle Firmware:\r\n(keine)\r\n"));
    EXPECT_FALSE(ParseFirmwareId(u"Kein aktives Ger\u00e4t angeschlossen!"));
}

TEST(Record, AnUnwritableRecordFileIsReportedOnceAndOnlyDeviceTransfersAreRecorded) {
    TempEnv env;
    std::ofstream(env.dir() + "/plain") << "x";
    std::vector<std::string> reports;
    RecordLog bad(env.dir() + "/plain/records.ndjson", "bzl", "1", [&](const std::string& m) { reports.push_back(m); });
    TransferRecord r;
    r.reachedDevice = true;
    EXPECT_FALSE(bad.Write(r));
    EXPECT_FALSE(bad.Write(r));
    EXPECT_EQ(reports.size(), 1u);

    RecordLog good(env.dir() + "/new/folder/records.ndjson", "bzl", "1", nullptr);
    EXPECT_TRUE(good.Write(r));
    r.reachedDevice = false;  // a refused file: nothing went to the device
    EXPECT_TRUE(good.Write(r));
    const std::string text = [&] {
        std::ifstream in(good.Path());
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

}  // namespace
}  // namespace zl::test
