"""Drives vormelq-sim with pymodbus's own RTU framer over TCP, an implementation
independent of ours. Usage: pymodbus_master.py HOST PORT SLAVE. Exits non-zero on
the first mismatch."""
import sys

from pymodbus.client import ModbusTcpClient
from pymodbus.transaction import ModbusRtuFramer

host, port, slave = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])


def check(what, got, want):
    if got != want:
        print(f"FAIL {what}: got {got!r}, want {want!r}")
        sys.exit(1)
    print(f"ok {what}")


def pair(regs, i):
    return regs[i] | (regs[i + 1] << 16)


client = ModbusTcpClient(host, port, framer=ModbusRtuFramer, timeout=3, retries=0)
assert client.connect()

for address in (slave, 0):
    weight = client.read_holding_registers(0, 8, slave=address)
    check(f"weight block at slave {address}", len(weight.registers), 8)

# Setpoints: a 32-bit value low word first, and the percentage.
client.write_register(16, 125, slave=slave)
client.write_register(17, 0, slave=slave)
client.write_register(18, 0, slave=slave)
client.write_register(19, 1, slave=slave)
client.write_register(22, 300, slave=slave)
first = client.read_holding_registers(14, 6, slave=slave).registers
check("coarse cut-off", pair(first, 2), 125)
check("fine cut-off", pair(first, 4), 65536)
check("percentage", client.read_holding_registers(20, 3, slave=slave).registers[2], 300)

# Command 6 presets the tare from the data word; the result code comes back high.
client.write_register(8, 0x0064, slave=slave)
client.write_register(9, 0, slave=slave)
client.write_register(7, 6, slave=slave)
command = client.read_holding_registers(7, 3, slave=slave).registers
check("command readback", command, [0x0106, 0x0064, 0])
weight = client.read_holding_registers(0, 8, slave=slave).registers
check("tare", pair(weight, 2), 100)
net = pair(weight, 4)
check("net is signed", net - (1 << 32) if net & 0x80000000 else net, -100)

# The F key switches the display to the tare: the TARA arrow and the digits 1 0 0.
client.write_register(6, ord("F"), slave=slave)
client.write_register(6, ord("F"), slave=slave)
display = client.read_holding_registers(10, 4, slave=slave).registers
chars = []
for r in display:
    chars += [r & 0xFF, r >> 8]
check("TARA arrow", bool(chars[1] & 0x02), True)
check("digits", chars[2:], [0x7E, 0x7E, 0x12, 0, 0, 0])

bad = client.read_holding_registers(20, 4, slave=slave)
check("read past the map", (bad.function_code, bad.exception_code), (0x83, 2))
bad = client.write_register(3, 1, slave=slave)
check("write to a read-only register", (bad.function_code, bad.exception_code), (0x86, 2))
client.close()
print("done")
