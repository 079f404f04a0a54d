// The menu file mnusis_cs.krv: read line by line, each line cut into a row of `menu` and
// batched into insert statements.
#include "database/menu_file.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    using namespace krv::database;
    MenuFileReader reader(fuzz::writeScratch("mnusis_cs.krv", data, size));
    if (reader.size() != qint64(size))
        fuzz::fail("menu file size");
    MenuInsertBatch batch(4, 2000);
    while (!reader.atEnd()) {
        const QString line = reader.readLine();
        if (line.contains('\n'))
            fuzz::fail("a line holding its line end");
        const MenuRecord r = parseMenuLine(line);
        if (r.Sistema.size() > 50 || r.sequencia.size() > 3 || r.Menu.size() > 30 ||
            r.NomeInter.size() > 20 || r.NivelAnterior.size() > 50)
            fuzz::fail("a field wider than its columns");
        if (r.Nivel < 0 || r.Nivel > 9 || r.Programa < 0 || r.Programa > 9)
            fuzz::fail("a digit field out of 0-9");
        batch.add(r);
        if (batch.full() && !batch.take().startsWith("insert into menu "))
            fuzz::fail("a batch that is no insert");
    }
    (void)batch.take();
    return 0;
}
