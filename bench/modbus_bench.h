// dio-bench's Modbus part (modbus_bench.cpp); 0 when the goals are met.
#ifndef DIO_BENCH_MODBUS_BENCH_H
#define DIO_BENCH_MODBUS_BENCH_H

int bench_modbus();

#endif
