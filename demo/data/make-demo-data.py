#!/usr/bin/env python3
"""Writes the CSV files of the demo material libraries (category.csv,
factory.csv, products-2026-11.csv, products-2026-12.csv, htmlrelational.csv).

The CSV files are the sources the build reads; this script only made them and
is kept so that they can be made again after a change of the lists below.
Deterministic: the same CSV files on every run.
"""
import csv
import os
import random
import re

HERE = os.path.dirname(os.path.abspath(__file__))

# Category tree below the root row (ID 0). A dict holds sub-categories; a list
# holds the leaf categories products belong to. Names with an icon are listed in
# ICONS.
TREE = {
    "钢材": {
        "螺纹钢": {"HRB400": ["Φ12-Φ14", "Φ16-Φ25", "Φ28-Φ32"], "HRB400E": ["Φ12-Φ14", "Φ16-Φ25"], "HRB500": []},
        "圆钢": {"HPB300": ["Φ6-Φ10", "Φ12-Φ22"]},
        "型钢": ["角钢", "槽钢", "工字钢", "H型钢"],
        "钢板": ["热轧板", "冷轧板", "中厚板"],
    },
    "水泥": {
        "普通硅酸盐水泥": ["P.O42.5", "P.O52.5"],
        "复合硅酸盐水泥": ["P.C32.5R", "P.C42.5"],
        "白水泥": [],
    },
    "木材": {
        "原木": ["松木", "杉木"],
        "人造板": ["胶合板", "细木工板", "密度板"],
        "方木": [],
    },
    "管材": {
        "钢管": ["焊接钢管", "镀锌钢管", "无缝钢管"],
        "塑料管": ["PPR给水管", "PVC-U排水管", "PE给水管"],
    },
    "电线电缆": {
        "电线": ["BV铜芯线", "BVR软线"],
        "电力电缆": ["YJV电缆", "VV电缆"],
    },
    "五金": {
        "紧固件": ["螺栓", "膨胀螺栓"],
        "门窗五金": ["合页", "执手"],
    },
    "防水材料": {
        "防水卷材": ["SBS改性沥青卷材", "自粘聚合物卷材"],
        "防水涂料": ["聚氨酯防水涂料", "JS复合防水涂料"],
    },
    "砂石": {
        "砂": ["中砂", "细砂"],
        "碎石": ["5-25mm", "10-30mm"],
    },
}
ICONS = {"全部材料": "材料", "钢材": "钢材", "水泥": "水泥", "木材": "木材", "管材": "管材", "电线电缆": "电线电缆",
         "五金": "五金", "防水材料": "防水材料", "砂石": "砂石", "螺纹钢": "螺纹钢", "型钢": "型钢", "塑料管": "塑料管"}

# (name, unit, price range per unit including tax, model maker) per top-level category.
GOODS = {
    "钢材": ("吨", (3600, 4600), lambda leaf, i: (f"{leaf} " if leaf.startswith("Φ") else "") + ["定尺9m", "定尺12m", "盘螺"][i % 3]
             if leaf.startswith(("Φ", "HRB")) else [f"{leaf} Q235B", f"{leaf} Q355B", f"{leaf} 国标"][i % 3]),
    "水泥": ("吨", (380, 560), lambda leaf, i: ["散装", "袋装 50kg", "袋装 25kg"][i % 3]),
    "木材": ("立方米", (1300, 3200), lambda leaf, i: f"{leaf} 4m×{[16, 20, 24][i % 3]}cm" if leaf in ("松木", "杉木", "方木")
             else f"{leaf} 1220×2440×{[12, 15, 18][i % 3]}mm"),
    "管材": ("米", (6, 95), lambda leaf, i: f"DN{[15, 20, 25, 32, 40, 50, 65, 80][i % 8]}" if "钢管" in leaf
             else f"dn{[20, 25, 32, 40, 50, 63][i % 6]}×{[2.3, 2.8, 3.5, 4.4][i % 4]}mm"),
    "电线电缆": ("米", (2, 380), lambda leaf, i: f"{re.match('[A-Z]+', leaf).group()} 1×{[1.5, 2.5, 4, 6, 10][i % 5]}mm²" if "线" in leaf
                 else f"{re.match('[A-Z]+', leaf).group()} 3×{[25, 35, 50, 70][i % 4]}+1×{[16, 16, 25, 35][i % 4]}mm²"),
    "五金": ("套", (1, 45), lambda leaf, i: f"M{[8, 10, 12, 16, 20][i % 5]}×{[50, 80, 100, 120][i % 4]}" if "螺栓" in leaf
             else f"{[3, 4, 5][i % 3]}寸 不锈钢"),
    "防水材料": ("平方米", (18, 65), lambda leaf, i: f"{[3, 4][i % 2]}mm PY I型" if "卷材" in leaf
                 else f"{[1.5, 2.0][i % 2]}mm {['单组分', '双组分'][i % 2]}"),
    "砂石": ("立方米", (95, 230), lambda leaf, i: ["机制", "天然", "水洗"][i % 3]),
}

FACTORIES = [
    ("东岚钢铁集团有限公司", "江苏省东岚市滨江路88号", "0510-86000001"),
    ("青川特钢有限公司", "江苏省青川市工业园区6号", "0512-58000002"),
    ("北辰钢铁股份有限公司", "河北省北辰市钢城大道1号", "0315-27000003"),
    ("鸿钧型钢有限公司", "山东省临海市港区路16号", "0539-82000004"),
    ("云岭钢板制造有限公司", "云南省云岭市冶金路9号", "0871-66000005"),
    ("碧湾水泥有限公司", "安徽省湾口市水泥厂路1号", "0553-84000006"),
    ("华岳水泥集团有限公司", "浙江省华岳县建材园3号", "0572-52000007"),
    ("南山建材股份有限公司", "广东省南山市石场路12号", "0758-22000008"),
    ("白石特种水泥厂", "河南省白石市西郊", "0371-65000009"),
    ("林海木业有限公司", "黑龙江省林海市木材街20号", "0451-87000010"),
    ("松涛人造板有限公司", "江西省松涛县板材园5号", "0797-83000011"),
    ("翠竹木材加工厂", "福建省翠竹市林产路7号", "0591-83000012"),
    ("金阳管业有限公司", "天津市金阳区管业路15号", "022-58000013"),
    ("华通塑胶管道有限公司", "浙江省华通市塑料城2号", "0576-84000014"),
    ("长江钢管制造有限公司", "湖北省长江市钢管路1号", "027-84000015"),
    ("鑫源PPR管业有限公司", "广东省鑫源市管材园11号", "0757-86000016"),
    ("远航电线电缆有限公司", "江苏省远航市电缆路9号", "0523-86000017"),
    ("辰光电缆集团有限公司", "河南省辰光市电缆城1号", "0371-63000018"),
    ("明亮电工线材厂", "浙江省明亮镇工业区", "0577-62000019"),
    ("坚固五金制品有限公司", "浙江省永坚市五金城8号", "0579-87000020"),
    ("恒力紧固件有限公司", "河北省恒力县紧固件园4号", "0310-72000021"),
    ("雅居门窗五金有限公司", "广东省雅居市五金路3号", "0750-65000022"),
    ("霁虹防水材料有限公司", "北京市霁虹区防水路18号", "010-59000023"),
    ("蓝盾防水科技有限公司", "山东省蓝盾市化工园10号", "0536-78000024"),
    ("卓越建筑涂料有限公司", "上海市卓越区涂料路6号", "021-57000025"),
    ("青石砂石料场", "四川省青石县河坝", "0816-22000026"),
    ("大河机制砂有限公司", "湖南省大河市砂石园2号", "0731-85000027"),
    ("磐石骨料有限公司", "广西磐石市采石场路1号", "0771-38000028"),
    ("顺达建材贸易有限公司", "浙江省顺达市建材市场A区12号", "0571-86000029"),
    ("利民物资供应站", "江苏省利民镇物资路5号", "0512-66000030"),
]
# The manufacturers that make each top-level category's goods (1-based factory ids).
MAKERS = {
    "钢材": [1, 2, 3, 4, 5, 29, 30],
    "水泥": [6, 7, 8, 9, 29],
    "木材": [10, 11, 12, 29],
    "管材": [13, 14, 15, 16, 30],
    "电线电缆": [17, 18, 19, 30],
    "五金": [20, 21, 22, 29],
    "防水材料": [23, 24, 25],
    "砂石": [26, 27, 28, 30],
}

# Pages under web/ that exist; the other HtmlRelational rows point to pages of
# the online service (the page is not installed locally).
LOCAL_PAGES = [
    ("钢材", "Φ16-Φ25", 1, "\\web\\gc\\hrb400-dl.htm"),
    ("钢材", "Φ16-Φ25", 2, "\\web\\gc\\hrb400-qc.htm"),
    ("钢材", "Φ16-Φ25", 3, "\\web\\gc\\hrb400-bc.htm"),
    ("水泥", "P.O42.5", 6, "\\web\\sn\\po425-bw.htm"),
    ("水泥", "P.O42.5", 7, "\\web\\sn\\po425-hy.htm"),
    ("管材", "PPR给水管", 16, "\\web\\gc\\ppr-xy.htm"),
    ("电线电缆", "YJV电缆", 17, "\\web\\dl\\yjv-yh.htm"),
]


def main():
    rnd = random.Random(20261201)
    categories = [(0, -1, "全部材料", ICONS["全部材料"], 0)]
    leaves = []  # (category id, top-level name, leaf name)
    next_id = [1]

    def add(parent, name, top, sort):
        cid = next_id[0]
        next_id[0] += 1
        categories.append((cid, parent, name, ICONS.get(name, ""), sort))
        return cid

    def walk(node, parent, top):
        items = node.items() if isinstance(node, dict) else [(n, []) for n in node]
        for sort, (name, sub) in enumerate(items, 1):
            cid = add(parent, name, top or name, sort)
            if sub:
                walk(sub, cid, top or name)
            else:
                leaves.append((cid, top or name, name))

    walk(TREE, 0, None)

    with open(os.path.join(HERE, "category.csv"), "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["ID", "ParentID", "Name", "ico", "sortid"])
        for c in categories:
            w.writerow([c[0], c[1], c[2], c[3], c[4]])

    with open(os.path.join(HERE, "factory.csv"), "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["ID", "Name", "Address", "Tel", "sortid"])
        for i, (name, addr, tel) in enumerate(FACTORIES, 1):
            w.writerow([i, name, addr, tel, i])

    # Products: December prices are November's plus a change; November's change
    # is against an October price that is not shipped.
    products = []
    pid = 0
    for cid, top, leaf in leaves:
        unit, (lo, hi), model = GOODS[top]
        # Narrower price ranges where one group holds goods of different price levels.
        lo, hi = {("电线电缆", True): (1.5, 12), ("电线电缆", False): (60, 380),
                  ("五金", True): (0.8, 8), ("五金", False): (8, 45),
                  ("管材", True): (25, 95), ("管材", False): (6, 40)}.get(
            (top, "线" in leaf or "螺栓" in leaf or "钢管" in leaf), (lo, hi))
        makers = MAKERS[top]
        chosen = rnd.sample(makers, min(len(makers), rnd.randint(3, 5)))
        for fid in sorted(chosen):
            for k in range(rnd.randint(2, 4)):
                pid += 1
                base = rnd.uniform(lo, hi)
                oct_price = round(base, 2)
                nov = round(oct_price * rnd.uniform(0.96, 1.05), 2)
                dec = round(nov * rnd.uniform(0.95, 1.06), 2)
                parent = next(c for c in categories if c[0] == next(p[1] for p in categories if p[0] == cid))
                name = leaf
                if top == "钢材" and leaf.startswith("Φ"):
                    name = f"螺纹钢 {parent[2]}" if parent[2].startswith("HRB") else f"圆钢 {parent[2]}"
                elif leaf.startswith("HRB"):
                    name = f"螺纹钢 {leaf}"
                elif top == "水泥" and leaf[0].isascii():
                    name = f"{parent[2]} {leaf}"
                elif top == "砂石":
                    name = f"{leaf}{'' if leaf.endswith('砂') else ' 碎石'}"
                remark = ""
                if pid % 9 == 0:
                    remark = "含税到场价，不含卸车费。"
                elif pid % 23 == 0:
                    remark = "执行标准见产品页；价格随市场波动，以供货当日为准。\n大宗采购另议。"
                products.append([pid, cid, fid, name, model(leaf, k + pid), unit, oct_price, nov, dec, remark])

    def money(x):
        return f"{x:.4f}"

    for month, col, prev in (("2026-11", 7, 6), ("2026-12", 8, 7)):
        with open(os.path.join(HERE, f"products-{month}.csv"), "w", newline="", encoding="utf-8") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(["ID", "CategoryID", "FactoryID", "Name", "Model", "Unit", "PriceTax", "PriceNoTax",
                        "PriceChange", "Remark", "sortid"])
            for p in products:
                price = p[col]
                w.writerow([p[0], p[1], p[2], p[3], p[4], p[5], money(price), money(round(price / 1.13, 4)),
                            money(round(price - p[prev], 4)), p[9], p[0]])

    # HtmlRelational: the local pages, then online pages for part of the other pairs.
    cat_by_name = {}
    for c in categories:
        cat_by_name.setdefault(c[2], c[0])
    rows = []
    seen = set()
    for top, leaf, fid, page in LOCAL_PAGES:
        cid = next(l[0] for l in leaves if l[2] == leaf and l[1] == top)
        rows.append((cid, fid, page))
        seen.add((cid, fid))
    pairs = sorted({(p[1], p[2]) for p in products} - seen)
    for cid, fid in pairs[::3]:
        rows.append((cid, fid, f"\\web\\online\\c{cid}-f{fid}.htm"))
    with open(os.path.join(HERE, "htmlrelational.csv"), "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["ID", "CategoryID", "FactoryID", "HtmlFileName"])
        for i, (cid, fid, page) in enumerate(rows, 1):
            w.writerow([i, cid, fid, page])
    print(f"{len(categories)} categories, {len(leaves)} leaves, {len(FACTORIES)} manufacturers, "
          f"{len(products)} products, {len(rows)} page rows")


if __name__ == "__main__":
    main()
